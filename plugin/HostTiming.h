#pragma once

// Tempo and time signature of one host block. The defaults stand in for
// whatever the host does not report.
struct HostTiming
{
    double bpm = 120.0;
    int numerator = 4;
    int denominator = 4;
};
