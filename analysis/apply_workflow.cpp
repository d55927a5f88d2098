#include <QLabel>
#include <QSlider>
#include <QTabWidget>

#include "app/diagnostics.h"
#include "app/mainwindow.h"
#include "video/frame_mapping.h"

int MainWindow::currentTab() const
{
    return tabWidget_->currentIndex();
}

void MainWindow::startAnalysisMode()
{
    diag("startAnalysisMode\n");
    step_ = 0;
    templateMat.release();
    if (currentTab() == 0)
        promptLabel_->setText("Please drag 45cm plate and press [Apply]:");
    else
        promptLabel_->setText("Please set start position by scroll bar and press [Apply]:");
}

void MainWindow::applyButtonPressed()
{
    diag("applyButtonPressed\n");
    const int tab = currentTab();
    diag("  tab_id_:%d\n", tab);
    switch (tab) {
    case 0:
        applyLiveStep(step_);
        break;
    case 1:
        applyAutoStep(step_);
        break;
    case 2:
        applyManualStep(step_);
        break;
    case 3:
        applyStrobeStep(step_);
        break;
    default:
        break;
    }
}

bool MainWindow::applyRangeStep(int step, const char* afterEndPrompt)
{
    if (step == 0) {
        analysis_start_frame =
            frameFromSlider(animeSlider_->value(), movie_frame_num, animeSlider_->maximum());
        diag("  analysis_start_frame = %d\n", analysis_start_frame);
        promptLabel_->setText("Please set end position by scroll bar and press [Apply]:");
        step_ = 1;
        return false;
    }
    if (step == 1) {
        analysis_end_frame =
            frameFromSlider(animeSlider_->value(), movie_frame_num, animeSlider_->maximum());
        diag("  analysis_end_frame = %d\n", analysis_end_frame);
        step_ = 2;
        promptLabel_->setText(afterEndPrompt);
        returnToStartFrame();
        return true;
    }
    return false;
}

void MainWindow::returnToStartFrame()
{
    const int pos_ =
        sliderForStartFrame(analysis_start_frame, movie_frame_num, animeSlider_->maximum());
    diag("  pos_=%d\n", pos_);
    animeSlider_->setValue(pos_);
    // The slider value maps back to a frame up to a few frames before the
    // start frame; the rectangle dragged next must be cut from the start frame
    // itself, so show that one explicitly.
    showMovieFrame(analysis_start_frame);
}
