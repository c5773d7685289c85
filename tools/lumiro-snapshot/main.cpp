// Writes the plug-in window as a PNG: builds the processor and its editor in
// this process, lets the status poll run once, and snapshots the editor.
//
//   lumiro_snapshot [output.png]      (default: lumiro-editor.png)

#include <iostream>
#include <memory>

#include <juce_events/juce_events.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/LumiroLooperEditor.h"
#include "plugin/LumiroLooperProcessor.h"

int main(int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;

    const juce::String path = argc > 1 ? juce::String(argv[1]) : juce::String("lumiro-editor.png");
    const auto file = juce::File::getCurrentWorkingDirectory().getChildFile(path);

    LumiroLooperProcessor processor;
    std::unique_ptr<juce::AudioProcessorEditor> editor(processor.createEditor());
    if (auto* lumiro = dynamic_cast<LumiroLooperEditor*>(editor.get()))
        lumiro->timerCallback();

    const auto image = editor->createComponentSnapshot(editor->getLocalBounds());

    processor.editorBeingDeleted(editor.get());
    editor.reset();

    file.deleteFile();
    juce::FileOutputStream out(file);
    juce::PNGImageFormat png;
    if (!out.openedOk() || !png.writeImageToStream(image, out))
    {
        std::cerr << "cannot write " << file.getFullPathName() << "\n";
        return 1;
    }

    std::cout << file.getFullPathName() << " (" << image.getWidth() << " x " << image.getHeight()
              << ")\n";
    return 0;
}
