#include <QAction>
#include <QSlider>
#include <QSpinBox>

#include "app/diagnostics.h"
#include "app/mainwindow.h"
#include "app/text_box.h"

void MainWindow::weightEntered()
{
    diag("weightEntered()\n");
    weight_ = weightSpinBox_->value();
}

void MainWindow::barCenterInitPosEntered()
{
    diag("barCenterInitPosEntered()\n");
    barCenterInitPos_ = static_cast<float>(barCenterSpinBox_->value());
}

void MainWindow::strobeFrameEntered()
{
    diag("strobeFrameEntered\n");
    const int step = strobeStepSpinBox_->value();
    const int number = strobeNumberSpinBox_->value();
    const int error = strobeErrorSpinBox_->value();
    strobeFrameStep_ = step;
    strobeFrameNumber_ = number;
    strobeError_ = error;
}

void MainWindow::slotsViewFlip()
{
    diag("slotsViewFlip()\n");
    viewFlip_ = flipAction_->isChecked() ? 1 : 0;
}

void MainWindow::textPosEntered()
{
    diag("textPosEntered()\n");
    textBoxX_ = clampTextBoxPosition(textXSpinBox_->value(), movieWidth, textBoxWidth_);
    textBoxY_ = clampTextBoxPosition(textYSpinBox_->value(), movieHeight, textBoxHeight_);
    slotSetAnimeSlider(animeSlider_->value());
}
