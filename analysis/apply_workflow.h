#pragma once

// The tabs of the window and the steps the Apply button leads through on each.
// One step counter serves every tab: a user who switches tabs without pressing
// Analysis goes on in the new tab's steps at the same number, so each tab's
// steps are numbered from 0 like the others and read through its own enum.

enum class Tab { Live, MovieAuto, MovieManual, Strobe };

// The first two steps of every movie tab: the range chosen with the slider.
enum class RangeStep { SetStartFrame, SetEndFrame, RangeChosen };

enum class LiveStep {
    DragPlate,  // a rectangle over the 45 cm plate
    DragTarget, // the target on the bar
    Tracing,    // the last step: the live loop traces the target
};

enum class AutoStep {
    SetStartFrame = static_cast<int>(RangeStep::SetStartFrame),
    SetEndFrame = static_cast<int>(RangeStep::SetEndFrame),
    DragTarget = static_cast<int>(RangeStep::RangeChosen),
    ConfirmStart, // Apply starts the analysis
    Analysed,     // the last step
};

enum class ManualStep {
    SetStartFrame = static_cast<int>(RangeStep::SetStartFrame),
    SetEndFrame = static_cast<int>(RangeStep::SetEndFrame),
    DragSamplingArea = static_cast<int>(RangeStep::RangeChosen),
    ClickBar,   // a click on the bar, then Apply or N for the next frame
    WriteMovie, // every frame was shown: Apply writes the movie
    Written,    // the last step
};

enum class StrobeStep {
    SetStartFrame = static_cast<int>(RangeStep::SetStartFrame),
    SetEndFrame = static_cast<int>(RangeStep::SetEndFrame),
    Made = static_cast<int>(RangeStep::RangeChosen), // the last step
};

static_assert(static_cast<int>(LiveStep::DragPlate) == static_cast<int>(RangeStep::SetStartFrame),
              "every tab starts at the same step");

// The range step a movie tab's first two steps are.
template <class Step> RangeStep asRangeStep(Step step)
{
    return static_cast<RangeStep>(static_cast<int>(step));
}

// The Apply workflow's state: the shared step and the range chosen on a movie tab.
struct Workflow {
    int step_ = static_cast<int>(LiveStep::DragPlate);
    int analysis_start_frame = 0;
    int analysis_end_frame = 0;

    // The step as the steps of the tab that reads it.
    template <class Step> Step stepAs() const { return static_cast<Step>(step_); }
    template <class Step> void goTo(Step step) { step_ = static_cast<int>(step); }
    // Analysis: every tab starts from its first step.
    void restart() { goTo(LiveStep::DragPlate); }
};
