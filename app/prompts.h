#pragma once

// Every text the prompt line shows, and the reasons the chart window gives
// for a trace without centimetres, in one place so that a text is changed
// here and nowhere else. Those with %d or %1 are filled in with a frame number
// or a count.

// At start-up.
constexpr const char* kPromptStart = "Press [Analysis] button to start.";

// The live tab's steps.
constexpr const char* kPromptDragPlate = "Please drag 45cm plate and press [Apply]:";
constexpr const char* kPromptDragTarget = "Please drag target area and press Apply:";
constexpr const char* kPromptTracing = "Trace mode is activated:";

// The range every movie tab starts with.
constexpr const char* kPromptSetStart =
    "Please set start position by scroll bar and press [Apply]:";
constexpr const char* kPromptSetEnd = "Please set end position by scroll bar and press [Apply]:";

// A movie that cannot be opened for a movie tab.
constexpr const char* kPromptMovieInvalid = "Movie file invalid.";

// Movie Auto.
constexpr const char* kPromptAutoDragTarget = "Please set target area by drag and press [Apply]:";
constexpr const char* kPromptAutoConfirm = "Please press apply to strat:";
constexpr const char* kPromptNoMovie = "No movie is open: please open a movie file first.";
constexpr const char* kPromptNoTarget =
    "No target area yet: please drag target area and press [Apply]:";
constexpr const char* kPromptTargetTooLarge =
    "Target area does not fit the movie: please drag target area and press [Apply]:";
constexpr const char* kPromptAutoCancelledKept =
    "The analysis was cancelled: the movie holds the frames analysed so far.";
constexpr const char* kPromptAutoCancelledEmpty = "The analysis was cancelled: no movie written.";
constexpr const char* kPromptFrameUndecodable =
    "Frame %d cannot be decoded: the analysis stopped there.";
constexpr const char* kWhyNoPlateFound =
    "No plate was found around the target: the analysis has pixels only.";

// Movie Manual.
constexpr const char* kPromptDragSamplingArea = "Please drag sampling area and press [Apply]:";
constexpr const char* kPromptClickBar = "Please press apply to progress:";
constexpr const char* kPromptNoFrameInRange =
    "No frame between start and end position: press [Analysis] to choose again.";
constexpr const char* kPromptFrameUnreadable =
    "Frame %d cannot be read: press [Apply] to write the movie of the frames shown.";
constexpr const char* kPromptNoFrameShown = "No frame was shown: no movie written.";
constexpr const char* kWhySamplingAreaNoScale =
    "The sampling area gives no scale: the analysis has pixels only.";

// The strobe movie.
constexpr const char* kPromptMakingStrobe = "Now making movie... :";
constexpr const char* kPromptStrobeStep =
    "Strobe movie frame step must be 1 or more: set it and press [Analysis]:";
constexpr const char* kPromptStrobeReopen =
    "Please open the movie with [Strobe TypeA] or [Strobe TypeB] and press [Analysis]:";
constexpr const char* kPromptStrobeTooFewSamples =
    "Too few samples in the range for the strobe movie frame number: no movie written.";
constexpr const char* kPromptStrobeUnwritable = "Strobe movie cannot be written to output:";
constexpr const char* kPromptStrobeCancelledKept =
    "The strobe movie was cancelled: the movie holds the frames made so far.";
constexpr const char* kPromptStrobeCancelledEmpty =
    "The strobe movie was cancelled: no movie written.";
constexpr const char* kPromptStrobeNothing = "No strobe frame could be made: no movie written.";

// The recording.
constexpr const char* kPromptRecordingIncomplete =
    "The recording could not be written completely: what was written is kept.";
constexpr const char* kPromptDiskLow =
    "The disk is almost full: the recording was stopped and saved.";
constexpr const char* kPromptFramesRepeated =
    "Recording saved; %1 frames were repeated while the encoder caught up.";
constexpr const char* kWhyPlateNotDragged =
    "The plate was not dragged: the recording has pixels only.";

// When the movie or its companion files could not be written.
constexpr const char* kMovieNotWritten = "The movie file could not be written.";
constexpr const char* kLiftFilesNotWritten = "The CSV and chart files could not be written.";
