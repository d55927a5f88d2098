#include <cstdlib>

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "analysis/lift_chart.h"
#include "app/mainwindow.h"
#include "video/diagnostics.h"

namespace
{
// Entry i is both the text of FPS action i and the rate it sets.
const char* const fpsTexts_[5] = {"12", "15", "20", "24", "30"};
} // namespace

void MainWindow::createActions()
{
    movieAutoAction_ = new QAction(tr("&Movie file [Auto]"), this);
    connect(movieAutoAction_, &QAction::triggered, this, &MainWindow::startBarPathMovieAutoMode);
    movieManualAction_ = new QAction(tr("&Movie file [Manual]"), this);
    connect(movieManualAction_, &QAction::triggered, this,
            &MainWindow::startBarPathMovieManualMode);
    strobeTypeAAction_ = new QAction(tr("&Movie file [Strobe TypeA]"), this);
    connect(strobeTypeAAction_, &QAction::triggered, this, &MainWindow::startStrobeMovieModeTypeA);
    strobeTypeBAction_ = new QAction(tr("&Movie file [Strobe TypeB]"), this);
    connect(strobeTypeBAction_, &QAction::triggered, this, &MainWindow::startStrobeMovieModeTypeB);

    chartWindow_ = new LiftChartWindow(this);
    chartAction_ = new QAction(tr("&Chart"), this);
    connect(chartAction_, &QAction::triggered, this, &MainWindow::showChartWindow);

    flipAction_ = new QAction(tr("&Flip"), this);
    flipAction_->setCheckable(true);
    connect(flipAction_, &QAction::triggered, this, &MainWindow::slotsViewFlip);

    // No QActionGroup: slotsFPSMenu keeps exactly one rate checked.
    for (int i = 0; i < 5; ++i) {
        fpsActions_[i] = new QAction(tr(fpsTexts_[i]), this);
        fpsActions_[i]->setCheckable(true);
        connect(fpsActions_[i], &QAction::triggered, this, &MainWindow::slotsFPSMenu);
    }
    fpsActions_[0]->setChecked(true);
    settings_.FPS_ = 12.0f;
}

void MainWindow::createMenus()
{
    if (movieModesEnabled) {
        modeMenu_ = menuBar()->addMenu(tr("&Mode"));
        modeMenu_->addAction(movieAutoAction_);
        modeMenu_->addAction(movieManualAction_);
        modeMenu_->addAction(strobeTypeAAction_);
        modeMenu_->addAction(strobeTypeBAction_);
    }
    viewMenu_ = menuBar()->addMenu(tr("&View"));
    viewMenu_->addAction(flipAction_);
    fpsMenu_ = viewMenu_->addMenu(tr("&FPS"));
    for (QAction* action : fpsActions_)
        fpsMenu_->addAction(action);
    viewMenu_->addAction(chartAction_);
}

void MainWindow::slotsFPSMenu()
{
    auto* action = qobject_cast<QAction*>(sender());
    int k = -1;
    for (int i = 0; i < 5; ++i) {
        if (fpsActions_[i] == action) {
            k = i;
            break;
        }
    }
    if (k < 0)
        return;
    diag("slotsFPSMenu: %d\n", k);
    for (QAction* a : fpsActions_)
        a->setChecked(false);
    fpsActions_[k]->setChecked(true);
    settings_.FPS_ = static_cast<float>(std::atof(fpsTexts_[k]));
    diag("  FPS_: %.1f\n", settings_.FPS_);
    camera_.restartGrid();
}
