#include <QLabel>
#include <QSlider>
#include <QTabWidget>

#include "analysis/apply_workflow.h"
#include "app/mainwindow.h"
#include "app/prompts.h"
#include "video/diagnostics.h"
#include "video/frame_mapping.h"

Tab MainWindow::currentTab() const
{
    return static_cast<Tab>(tabWidget_->currentIndex());
}

void MainWindow::startAnalysisMode()
{
    diag("startAnalysisMode\n");
    flow_.restart();
    live_.templateMat.release();
    if (currentTab() == Tab::Live)
        promptLabel_->setText(kPromptDragPlate);
    else
        promptLabel_->setText(kPromptSetStart);
}

void MainWindow::applyButtonPressed()
{
    diag("applyButtonPressed\n");
    const Tab tab = currentTab();
    diag("  tab_id_:%d\n", static_cast<int>(tab));
    // The one step counter, read as the steps of the tab the press is on.
    if (tab == Tab::Live)
        applyLiveStep(flow_.stepAs<LiveStep>());
    else if (tab == Tab::MovieAuto)
        applyAutoStep(flow_.stepAs<AutoStep>());
    else if (tab == Tab::MovieManual)
        applyManualStep(flow_.stepAs<ManualStep>());
    else if (tab == Tab::Strobe)
        applyStrobeStep(flow_.stepAs<StrobeStep>());
}

void MainWindow::applyLiveStep(LiveStep step)
{
    if (step == LiveStep::DragPlate) {
        promptLabel_->setText(kPromptDragTarget);
        flow_.goTo(LiveStep::DragTarget);
    } else if (step == LiveStep::DragTarget) {
        promptLabel_->setText(kPromptTracing);
        flow_.goTo(LiveStep::Tracing);
    }
}

bool MainWindow::applyRangeStep(RangeStep step, const char* afterEndPrompt)
{
    const int frames = movie_.movie_frame_num;
    if (step == RangeStep::SetStartFrame) {
        flow_.analysis_start_frame =
            frameFromSlider(animeSlider_->value(), frames, animeSlider_->maximum());
        diag("  analysis_start_frame = %d\n", flow_.analysis_start_frame);
        promptLabel_->setText(kPromptSetEnd);
        flow_.goTo(RangeStep::SetEndFrame);
        return false;
    }
    if (step == RangeStep::SetEndFrame) {
        flow_.analysis_end_frame =
            frameFromSlider(animeSlider_->value(), frames, animeSlider_->maximum());
        diag("  analysis_end_frame = %d\n", flow_.analysis_end_frame);
        flow_.goTo(RangeStep::RangeChosen);
        promptLabel_->setText(afterEndPrompt);
        returnToStartFrame();
        return true;
    }
    return false;
}

void MainWindow::returnToStartFrame()
{
    const int pos_ = sliderForStartFrame(flow_.analysis_start_frame, movie_.movie_frame_num,
                                         animeSlider_->maximum());
    diag("  pos_=%d\n", pos_);
    animeSlider_->setValue(pos_);
    // The slider value maps back to a frame up to a few frames before the
    // start frame; the rectangle dragged next must be cut from the start frame
    // itself, so show that one explicitly.
    showMovieFrame(flow_.analysis_start_frame);
}
