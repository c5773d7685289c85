#include "editor/OstraLookAndFeel.h"

OstraLookAndFeel::OstraLookAndFeel() = default;
