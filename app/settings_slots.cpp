#include <QAction>
#include <QSlider>
#include <QSpinBox>

#include "app/mainwindow.h"
#include "app/text_box.h"
#include "video/diagnostics.h"

void MainWindow::weightEntered()
{
    diag("weightEntered()\n");
    settings_.weight_ = weightSpinBox_->value();
}

void MainWindow::barCenterInitPosEntered()
{
    diag("barCenterInitPosEntered()\n");
    settings_.barCenterInitPos_ = static_cast<float>(barCenterSpinBox_->value());
}

void MainWindow::strobeFrameEntered()
{
    diag("strobeFrameEntered\n");
    const int step = strobeStepSpinBox_->value();
    const int number = strobeNumberSpinBox_->value();
    const int error = strobeErrorSpinBox_->value();
    settings_.strobeFrameStep_ = step;
    settings_.strobeFrameNumber_ = number;
    settings_.strobeError_ = error;
}

void MainWindow::slotsViewFlip()
{
    diag("slotsViewFlip()\n");
    settings_.viewFlip_ = flipAction_->isChecked() ? 1 : 0;
}

void MainWindow::textPosEntered()
{
    diag("textPosEntered()\n");
    settings_.textBoxX_ =
        clampTextBoxPosition(textXSpinBox_->value(), movie_.movieWidth, settings_.textBoxWidth_);
    settings_.textBoxY_ =
        clampTextBoxPosition(textYSpinBox_->value(), movie_.movieHeight, settings_.textBoxHeight_);
    slotSetAnimeSlider(animeSlider_->value());
}
