#include "app/mainwindow.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <thread>

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include "app/environment.h"
#include "app/mygraphicsview.h"
#include "app/prompts.h"
#include "app/selection_state.h"
#include "video/diagnostics.h"
#include "video/output_naming.h"

namespace
{
// The top and bottom bars.
constexpr int kBarHeight = 30;
} // namespace

MainWindow::MainWindow() : QMainWindow(nullptr)
{
    // The drag state is shared by all views of this window; a new window
    // starts without a drag in progress.
    selectionState() = SelectionState{};

    centralPanel_ = new QWidget;
    setCentralWidget(centralPanel_);

    animeSlider_ = new QSlider(Qt::Horizontal);
    animeSlider_->setRange(0, 1000);
    connect(animeSlider_, &QSlider::valueChanged, this, &MainWindow::slotSetAnimeSlider);
    animeSlider_->setToolTip("Animation frame control");

    setupViews();
    openCamera();
    setupTabs();
    QWidget* topBar = setupTopBar();
    QWidget* bottomBar = setupBottomBar();
    setupLayout(topBar, bottomBar);
    createActions();
    createMenus();
    startCameraTimer();

    setGeometry(300, 30, 500, 600);
    keepOnScreen();
    setWindowTitle("Kestrova PC ver0.31 beta");
    diag("\n\n\n");
    probeFfmpeg();
    QDir().mkdir("output");
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(this);
    // Deleting the children takes the focus away from a spin box, and its
    // editingFinished() would then run a slot on this half-destroyed window
    // (textPosEntered() even reads the slider, which may be gone by then).
    // Nothing the widgets report from here on concerns the window.
    const QList<QObject*> children = findChildren<QObject*>();
    for (QObject* child : children)
        disconnect(child, nullptr, this, nullptr);
    for (QObject* widget : std::initializer_list<QObject*>{
             autoView_, manualView_, strobeView_, animeSlider_, strobeStepSpinBox_,
             strobeNumberSpinBox_, strobeErrorSpinBox_})
        disconnect(widget, nullptr, this, nullptr);

    // The views outlive the scenes by a moment; make sure none of them paints
    // a scene that is going away.
    for (MyGraphicsView* view : {liveView_, autoView_, manualView_, strobeView_})
        view->setScene(nullptr);
    // The hidden views have no parent when the movie modes are not built in.
    if (!movieModesEnabled) {
        delete autoView_;
        delete manualView_;
        delete strobeView_;
        delete animeSlider_;
        delete strobeStepSpinBox_;
        delete strobeNumberSpinBox_;
        delete strobeErrorSpinBox_;
    }
}

void MainWindow::setupViews()
{
    autoView_ = new MyGraphicsView;
    connect(autoView_, &MyGraphicsView::dragMoved, this, &MainWindow::drawSelectedRange);
    connect(autoView_, &MyGraphicsView::dragEnded, this, &MainWindow::saveSelectedRange);
    autoView_->setScene(&autoScene_);

    manualView_ = new MyGraphicsView;
    connect(manualView_, &MyGraphicsView::mousePressed, this, &MainWindow::positionSelected);
    connect(manualView_, &MyGraphicsView::dragMoved, this, &MainWindow::drawSelectedRange);
    connect(manualView_, &MyGraphicsView::dragEnded, this, &MainWindow::saveSelectedRange);
    manualView_->setScene(&manualScene_);

    strobeView_ = new MyGraphicsView;
    strobeView_->setScene(&strobeScene_);

    liveView_ = new MyGraphicsView;
    liveView_->setScene(&liveScene_);
    liveView_->setContentsMargins(0, 0, 0, 0);
    connect(liveView_, &MyGraphicsView::dragMoved, this, &MainWindow::drawSelectedRange);
    connect(liveView_, &MyGraphicsView::dragEnded, this, &MainWindow::saveSelectedRange);
}

void MainWindow::openCamera()
{
    const Environment& env = environment();
    camera_.cap = env.makeCamera();
    camera_.cap->open(env.cameraDevice);
    // Some cameras open at once but deliver their first picture only after a
    // while: read through the wait, so that one that comes late in it still
    // sizes the tabs.
    cv::Mat early;
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(env.cameraWarmUpMs);
    while (Clock::now() < end) {
        std::this_thread::sleep_for(
            std::min<Clock::duration>(std::chrono::milliseconds(100), end - Clock::now()));
        if (early.empty() && camera_.cap->isOpened())
            camera_.cap->read(early);
    }
    if (!camera_.cap->isOpened()) {
        QMessageBox box;
        box.setWindowTitle("Error Message");
        box.setText(
            "There is no web camera in this PC.\n Please set web camera and restart the App.");
        box.addButton(tr("OK"), QMessageBox::ActionRole);
        box.exec();
        camera_.noCamera_ = 1;
    }
    diag("cap opened\n");

    camera_.cap->read(camera_.camera_frame);
    if (camera_.camera_frame.empty())
        camera_.camera_frame = early;
    camera_.cameraWidth_ = camera_.camera_frame.cols;
    camera_.cameraHeight_ = camera_.camera_frame.rows;
    diag("camera_frame: %d, %d\n", camera_.cameraWidth_, camera_.cameraHeight_);
}

QSize MainWindow::screenRoom() const
{
    // Not yet shown, the window has no frame to measure: allow for a title
    // bar and borders as window managers draw them.
    constexpr int kFrame = 40;
    const QRect available = screen()->availableGeometry();
    const QSize frame = frameGeometry().size() - geometry().size();
    return available.size() - frame.expandedTo(QSize(kFrame / 4, kFrame));
}

void MainWindow::sizeTabsToCamera()
{
    // The picture is shown unscaled, but the tab widget never grows past the
    // room the screen leaves beside the bars: a larger picture scrolls, and
    // the buttons below stay on the screen.
    // The menus are built after the tabs; a menu bar is about as high as a bar.
    int bars = 3 * kBarHeight;
    if (movieModesEnabled)
        bars += animeSlider_->sizeHint().height();
    const QSize room = screenRoom() - QSize(0, bars);
    tabWidget_->setFixedSize(
        QSize(camera_.cameraWidth_ + 15, camera_.cameraHeight_ + 35).boundedTo(room));
}

void MainWindow::keepOnScreen()
{
    // The size the children ask for is known once their layouts have run.
    centralPanel_->layout()->activate();
    layout()->activate();
    const QRect available = screen()->availableGeometry();
    const QSize size = this->size().expandedTo(minimumSizeHint()).boundedTo(screenRoom());
    resize(size);
    const QSize frame = frameGeometry().size().expandedTo(size);
    const int x =
        std::max(available.left(), std::min(pos().x(), available.right() + 1 - frame.width()));
    const int y =
        std::max(available.top(), std::min(pos().y(), available.bottom() + 1 - frame.height()));
    move(x, y);
}

void MainWindow::setupTabs()
{
    tabWidget_ = new QTabWidget;
    sizeTabsToCamera();
    tabWidget_->setContentsMargins(0, 0, 0, 0);
    tabWidget_->addTab(liveView_, "Live Camera");
    if (movieModesEnabled) {
        tabWidget_->addTab(autoView_, "Movie Auto");
        tabWidget_->addTab(manualView_, "Movie Manual");
        tabWidget_->addTab(strobeView_, "Strobe Movie");
    }
}

QSpinBox* MainWindow::makeSpinBox(int maximum, void (MainWindow::*slot)(), const char* toolTip,
                                  int value)
{
    auto* box = new QSpinBox;
    box->setRange(0, maximum);
    box->setFixedWidth(60);
    // Only a finished edit (Enter or focus change) takes effect, never each
    // keystroke of a number being typed.
    connect(box, &QSpinBox::editingFinished, this, slot);
    box->setToolTip(toolTip);
    box->setValue(value);
    return box;
}

QWidget* MainWindow::setupTopBar()
{
    weightSpinBox_ = makeSpinBox(999, &MainWindow::weightEntered, "Weight[kg]", 0);
    settings_.weight_ = 0;

    barCenterSpinBox_ =
        makeSpinBox(999, &MainWindow::barCenterInitPosEntered, "Bar center initial height[cm]", 23);
    settings_.barCenterInitPos_ = 23.0f;

    // The box starts in the top right corner of a 640 pixel wide picture.
    settings_.textBoxX_ = 635 - settings_.textBoxWidth_;
    textXSpinBox_ = makeSpinBox(999, &MainWindow::textPosEntered, "Text box position X[pixel]",
                                settings_.textBoxX_);
    settings_.textBoxY_ = 3;
    textYSpinBox_ = makeSpinBox(999, &MainWindow::textPosEntered, "Text box position Y[pixel]",
                                settings_.textBoxY_);

    // The strobe settings keep their start values in the variables; the boxes
    // only show them.
    strobeStepSpinBox_ = makeSpinBox(999, &MainWindow::strobeFrameEntered, "Strobe movie frame d",
                                     settings_.strobeFrameStep_);
    strobeNumberSpinBox_ = makeSpinBox(999, &MainWindow::strobeFrameEntered,
                                       "Strobe movie frame number", settings_.strobeFrameNumber_);
    strobeErrorSpinBox_ = makeSpinBox(765, &MainWindow::strobeFrameEntered, "Strobe movie error",
                                      settings_.strobeError_);

    auto* topBar = new QWidget(this);
    topBar->setFixedHeight(kBarHeight);
    topBar->setContentsMargins(0, 0, 0, 0);
    auto* topLayout = new QHBoxLayout(topBar);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->setAlignment(Qt::AlignLeft);
    topLayout->addWidget(new QLabel("Weight:"));
    topLayout->addWidget(weightSpinBox_);
    topLayout->addWidget(new QLabel("Text Box: X"));
    topLayout->addWidget(textXSpinBox_);
    topLayout->addWidget(new QLabel("Y"));
    topLayout->addWidget(textYSpinBox_);
    topLayout->addWidget(new QLabel(" o:"));
    topLayout->addWidget(barCenterSpinBox_);
    if (movieModesEnabled) {
        topLayout->addWidget(strobeStepSpinBox_);
        topLayout->addWidget(strobeNumberSpinBox_);
        topLayout->addWidget(strobeErrorSpinBox_);
    }
    return topBar;
}

QWidget* MainWindow::setupBottomBar()
{
    promptLabel_ = new QLabel(kPromptStart);

    auto makeButton = [this](const char* text, void (MainWindow::*slot)()) {
        auto* button = new QPushButton(text, this);
        button->setFixedWidth(60);
        connect(button, &QPushButton::clicked, this, slot);
        button->setToolTip(text);
        return button;
    };
    QPushButton* applyButton = makeButton("Apply", &MainWindow::applyButtonPressed);
    QPushButton* backButton = makeButton("Back", &MainWindow::startBarPathMovieAutoMode);
    QPushButton* analysisButton = makeButton("Analysis", &MainWindow::startAnalysisMode);

    auto* bottomBar = new QWidget(this);
    bottomBar->setFixedHeight(kBarHeight);
    bottomBar->setContentsMargins(0, 0, 0, 0);
    auto* bottomLayout = new QHBoxLayout(bottomBar);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    bottomLayout->addWidget(promptLabel_);
    bottomLayout->addWidget(analysisButton);
    bottomLayout->addWidget(applyButton);
    bottomLayout->addWidget(backButton);
    return bottomBar;
}

void MainWindow::setupLayout(QWidget* topBar, QWidget* bottomBar)
{
    auto* grid = new QGridLayout(centralPanel_);
    grid->addWidget(topBar, 0, 0);
    grid->addWidget(tabWidget_, 1, 0);
    if (movieModesEnabled) {
        grid->addWidget(animeSlider_, 2, 0);
        grid->addWidget(bottomBar, 3, 0);
    } else {
        grid->addWidget(bottomBar, 2, 0);
    }
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setAlignment(Qt::AlignTop);
}

void MainWindow::startCameraTimer()
{
    cameraTimer_ = new QTimer(this);
    connect(cameraTimer_, &QTimer::timeout, this, &MainWindow::updateCamera);
    cameraTimer_->start(camera_.timerInterval_);
}

void MainWindow::probeFfmpeg()
{
    rec_.ffmpegFlag = 0;
    if (fexist(ffmpegExecutableName()))
        rec_.ffmpegFlag = 1;
    diag("ffmpegFlag = %d\n", rec_.ffmpegFlag);
}

int MainWindow::fexist(const std::string& filename)
{
    std::FILE* file = std::fopen(filename.c_str(), "r");
    if (!file)
        return 0;
    std::fclose(file);
    return 1;
}

void MainWindow::resizeEvent(QResizeEvent*)
{
    diag("MainWindow::resizeEvent\n");
    shell_.viewWidth_ = autoView_->width();
    shell_.viewHeight_ = autoView_->height();
    diag("  w=%d, h=%d\n", shell_.viewWidth_, shell_.viewHeight_);
}
