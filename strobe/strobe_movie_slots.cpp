#include <QFile>
#include <QLabel>

#include "app/mainwindow.h"
#include "app/prompts.h"
#include "app/work_progress.h"
#include "strobe/strobe_compose.h"
#include "strobe/strobe_rules.h"
#include "video/diagnostics.h"
#include "video/movie_writer.h"
#include "video/output_naming.h"

void MainWindow::applyStrobeStep(StrobeStep step)
{
    if (step != StrobeStep::SetStartFrame && step != StrobeStep::SetEndFrame)
        return;
    if (applyRangeStep(asRangeStep(step), kPromptMakingStrobe))
        makeStrobeMovie();
}

void MainWindow::makeStrobeMovie()
{
    diag("makeStrobeMovie\n");
    // The frame counts divide by the step.
    if (settings_.strobeFrameStep_ <= 0) {
        diag("  strobeFrameStep_ = %d, no movie made\n", settings_.strobeFrameStep_);
        promptLabel_->setText(kPromptStrobeStep);
        return;
    }
    // All three captures must stand on the movie the range was chosen on;
    // after a movie was opened in another mode they do not.
    if (movie_.strobeMovieFile_.empty() || !movie_.movieCapture1.isOpened() ||
        !movie_.movieCapture2.isOpened() || !movie_.movieCapture3.isOpened()) {
        diag("  the captures are not open on the current movie, no movie made\n");
        promptLabel_->setText(kPromptStrobeReopen);
        return;
    }

    StrobePlan plan;
    plan.start = flow_.analysis_start_frame;
    plan.end = flow_.analysis_end_frame;
    plan.step = settings_.strobeFrameStep_;
    plan.number = settings_.strobeFrameNumber_;
    plan.threshold = settings_.strobeError_;
    diag("  R = %d\n", plan.end - plan.start);
    if (movie_.strobeType_ == 0 &&
        typeAFrameCount(strobeSampleSteps(plan.end - plan.start, plan.step), plan.number) == 0) {
        diag("  no Type A frame: N %d of %d samples\n", plan.number,
             strobeSampleSteps(plan.end - plan.start, plan.step));
        promptLabel_->setText(kPromptStrobeTooFewSamples);
        return;
    }

    const std::string fname = makeOutputFileName("avi");

    const cv::Size size(movie_.movieWidth, movie_.movieHeight);
    const double fps =
        movie_.strobeType_ == 0 ? typeAFrameRate(movie_.movieFPS, plan.step) : movie_.movieFPS;
    if (!openMovieWriter(movie_.videoWriter_, fname, fps, size)) {
        // Composing a movie that cannot be kept would only keep the window frozen.
        diag("  %s cannot be written\n", fname.c_str());
        promptLabel_->setText(kPromptStrobeUnwritable);
        return;
    }
    // Only the shared writer is used: a recording running meanwhile has its own.
    cv::VideoCapture* const captures[3] = {&movie_.movieCapture1, &movie_.movieCapture2,
                                           &movie_.movieCapture3};
    const int samples = strobeSampleSteps(plan.end - plan.start, plan.step);
    WorkProgress progress(this, "Making strobe frame",
                          movie_.strobeType_ == 0 ? typeAFrameCount(samples, plan.number)
                                                  : plan.end - plan.start,
                          true);
    const int written =
        writeStrobeMovie(movie_.strobeType_, plan, captures, movie_.videoWriter_, size,
                         [&progress](int done) { return progress.update(done); });
    diag("\n  %d frames\n", written);
    if (!movie_.videoWriter_.release()) {
        promptLabel_->setText(kMovieNotWritten);
    } else if (progress.cancelled()) {
        // The frames made so far are a complete movie; none is no movie.
        if (written == 0)
            QFile::remove(QString::fromLocal8Bit(fname.c_str()));
        promptLabel_->setText(written > 0 ? kPromptStrobeCancelledKept
                                          : kPromptStrobeCancelledEmpty);
    } else if (written == 0) {
        // Not even the first sample could be decoded: an empty file would only
        // look like a movie.
        QFile::remove(QString::fromLocal8Bit(fname.c_str()));
        promptLabel_->setText(kPromptStrobeNothing);
    }
}
