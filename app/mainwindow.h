#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <QGraphicsScene>
#include <QMainWindow>
#include <QPixmap>
#include <QRectF>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "analysis/lift_phases.h"
#include "app/environment.h"
#include "video/mjpeg_avi_writer.h"
#include "video/recording.h"

class QAction;
class QCloseEvent;
class QGraphicsPixmapItem;
class QGraphicsRectItem;
class QKeyEvent;
class QLabel;
class QMenu;
class QResizeEvent;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTimer;
class LiftChartWindow;
class MyGraphicsView;

#ifndef KESTROVA_MOVIE_MODES
#define KESTROVA_MOVIE_MODES 0
#endif

// 1 adds the movie tabs, the frame slider, the strobe inputs and the Mode menu.
constexpr int movieModesEnabled = KESTROVA_MOVIE_MODES;

// The one controller of the program. Its slots are implemented next to the
// subsystem they belong to; each section below names its file and holds the
// slots, helpers and fields of that subsystem. Fields that several subsystems
// write sit together in the shared block at the end, each saying who writes it.
//
// The window state is public: every subsystem file and the tests reach it by
// the same names. It belongs to one window, so a new window starts from the
// start values again.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow();
    ~MainWindow() override;

    /* ---- Start-up and window (app/mainwindow.cpp) ---- */
    std::unique_ptr<CameraSource> cap;
    int cameraWidth_ = 0;
    int cameraHeight_ = 0;
    int noCamera_ = 0;
    int ffmpegFlag = 0;
    // Size of autoView_, stored by resizeEvent; the drag selection maps view
    // points with it.
    int viewWidth_ = 0;
    int viewHeight_ = 0;
    QWidget* centralPanel_ = nullptr;
    MyGraphicsView* liveView_ = nullptr;
    MyGraphicsView* autoView_ = nullptr;
    MyGraphicsView* manualView_ = nullptr;
    MyGraphicsView* strobeView_ = nullptr;
    QTabWidget* tabWidget_ = nullptr;
    QSlider* animeSlider_ = nullptr;
    QLabel* promptLabel_ = nullptr;
    QTimer* cameraTimer_ = nullptr;

    /* ---- Settings and menus (app/settings.cpp, app/menus.cpp) ---- */
    int weight_ = 0;
    float barCenterInitPos_ = 23.0f;
    int textBoxX_ = 415;
    int textBoxY_ = 3;
    int textBoxWidth_ = 220;
    int textBoxHeight_ = 140;
    int strobeFrameStep_ = 1;
    int strobeFrameNumber_ = 25;
    int strobeError_ = 20;
    int viewFlip_ = 0;
    float FPS_ = 10.0f;
    QSpinBox* weightSpinBox_ = nullptr;
    QSpinBox* barCenterSpinBox_ = nullptr;
    QSpinBox* textXSpinBox_ = nullptr;
    QSpinBox* textYSpinBox_ = nullptr;
    QSpinBox* strobeStepSpinBox_ = nullptr;
    QSpinBox* strobeNumberSpinBox_ = nullptr;
    QSpinBox* strobeErrorSpinBox_ = nullptr;
    QMenu* modeMenu_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    QMenu* fpsMenu_ = nullptr;
    QAction* fpsActions_[5] = {};
    QAction* flipAction_ = nullptr;
    QAction* movieAutoAction_ = nullptr;
    QAction* movieManualAction_ = nullptr;
    QAction* strobeTypeAAction_ = nullptr;
    QAction* strobeTypeBAction_ = nullptr;

    /* ---- Frame display (video/frame_display.cpp) ---- */
    static QPixmap frameToPixmap(const cv::Mat& frame);
    bool presentFirstFrame(QGraphicsScene* scene);
    void replaceFramePicture(QGraphicsScene* scene, const QPixmap& pixmap);
    // The scene rendered into a frame: its whole scene rect, or `area` of it.
    static cv::Mat sceneSnapshot(QGraphicsScene* scene, bool antialiasing,
                                 const QRectF& area = QRectF());
    // Clears a scene and forgets the movie items that lived in it, so that no
    // later slider move or drag touches a deleted item.
    void clearScene(QGraphicsScene* scene);
    QGraphicsPixmapItem* framePixmapItem_ = nullptr;

    /* ---- Live camera loop (video/live_camera.cpp) ---- */
    cv::Mat camera_frame;
    int timerInterval_ = 1;
    float startTime_ = 0.0f;
    double prevTime_ = 0.0;

    /* ---- Movie file modes (video/movie_modes.cpp) ---- */
    cv::VideoCapture movieCapture1;
    cv::VideoCapture movieCapture2;
    cv::VideoCapture movieCapture3;
    // The file the three strobe captures were opened on; empty when the last
    // successful open was in another mode.
    std::string strobeMovieFile_;
    // 0 for Type A, 1 for Type B: which strobe entry of the Mode menu opened the movie.
    int strobeType_ = 0;
    cv::Mat movieFrame_;
    int movie_frame_num = 0;
    float movieFPS = 0.0f;
    int movieWidth = 0;
    int movieHeight = 0;
    // Makes a decoded movie frame the one shown and cut from.
    void makeMovieFrameCurrent(const cv::Mat& frame);

    /* ---- Output naming (video/output_naming.cpp) ---- */
    std::string makeOutputFileName(const char* extension);

    /* ---- Long work (app/work_progress.cpp, app/window_events.cpp) ---- */
    // How many WorkProgress are open; while any is, keys and closing wait.
    int workDepth_ = 0;
    // Set by a close request during cancellable work: it stops at its next frame.
    bool cancelRequested_ = false;
    bool closeAfterWork_ = false;
    std::vector<int> keysAfterWork_;
    // Runs what waited for the work: the keys pressed meanwhile, then a close.
    void workEnded();

    /* ---- Recording (video/recording.cpp) ---- */
    int recState_ = 0;
    // A running recording has a writer of its own, so that writing a movie
    // while the camera is being recorded cannot close or overwrite it. It
    // encodes and appends each tick's frame while the recording runs.
    MjpegAviWriter recWriter_;
    cv::Size recFrameSize_;
    std::string recFileName_;
    bool recAnyPicture_ = false;
    // Ticks without a picture before the first one came.
    int recHeld_ = 0;
    // Ticks written as the last frame again because the encoders were behind.
    int recRepeats_ = 0;
    int recTicks_ = 0;
    // One row per recorded tick, kept beside the recording at stop.
    std::vector<TraceRow> recRows_;

    /* ---- Apply workflow (analysis/apply_workflow.cpp) ---- */
    int analysis_start_frame = 0;
    int analysis_end_frame = 0;

    /* ---- Drag selection (analysis/drag_selection.cpp) ---- */
    float platePixel_ = 0.0f;

    /* ---- Manual analysis (analysis/manual_analysis.cpp) ---- */
    int manualFrame_ = 0;
    // The snapshot of each step, written as the manual movie at the end.
    std::vector<cv::Mat> frameList_;
    // One row per click, and the frame the clicks fall on with its time.
    std::vector<TraceRow> manualRows_;
    int manualShownFrame_ = 0;
    double manualShownTimeS_ = 0.0;

    /* ---- Automatic analysis (analysis/auto_analysis.cpp) ---- */
    // The height in pixels of the plate found around the target; 0 when none was.
    float autoPlatePixel_ = 0.0f;

    /* ---- Lift results (analysis/lift_results.cpp) ---- */
    QAction* chartAction_ = nullptr;
    LiftChartWindow* chartWindow_ = nullptr;
    // The row of this live tick: the chart follows it and a recording keeps it.
    TraceRow liveRow_;
    // The last movie analysis or recording, for the chart window.
    std::vector<TraceRow> chartRows_;
    LiftResults chartResults_;
    QString chartWhy_;
    // Writes the trace, its phases and the chart beside a kept movie and shows
    // them in the chart window; a failure is added to the prompt. `why` says
    // why there are no cm, when there is no scale.
    void keepLiftResults(const std::string& movieFile, const std::vector<TraceRow>& rows,
                         const QString& why = QString());
    // Makes liveRow_ from this tick's measurement and hands it to the chart.
    void noteLiveRow(bool measured, double nowMs);

    /* ---- Shared: written by several subsystems ---- */
    // Apply workflow, and each tab's steps as they advance.
    int step_ = 0;
    // Live loop (each tick), recording (start, stop) and the FPS menu.
    int frameCount_ = 0;
    // Live loop (camera picture) and makeMovieFrameCurrent (movie frames).
    cv::Mat currentFrameMat;
    // Drag selection (the cut) and startAnalysisMode (emptied).
    cv::Mat templateMat;
    // Drag selection (the cut's centre row) and the manual steps (first click).
    int baseY_ = 0;
    // Drag selection (the dragged rectangle) and the live loop (the tracked one).
    QRectF liveRect_;
    // Path: live loop, automatic analysis, manual clicks; the drag selection
    // empties barX_ and barY_ for a new live target.
    std::deque<float> barX_;
    std::deque<float> barY_;
    // Live loop and manual clicks.
    std::deque<float> barVy_;
    // Manual clicks.
    std::deque<int> barFrame_;
    // Construction, and the automatic analysis (the whole analysed path).
    int trailMax_ = 50;
    // Measurements: live loop and manual steps; the overlay limits them.
    float maxHeight_ = 0.0f;
    float height_ = 0.0f;
    float maxVy_ = 0.0f;
    float vy_ = 0.0f;
    // Movie modes (the empty rectangle of a new movie) and the drag selection.
    QGraphicsRectItem* movieRectItem_ = nullptr;
    // The writer of the analysed, manual and strobe movies, opened and
    // released within one call of each.
    MjpegAviWriter videoWriter_;

    // Held by value; declared last so that they go before everything else.
    QGraphicsScene liveScene_;
    QGraphicsScene autoScene_;
    QGraphicsScene manualScene_;
    QGraphicsScene strobeScene_;

private slots:
    /* ---- Movie file modes (video/movie_modes.cpp) ---- */
    void startBarPathMovieAutoMode();
    void startBarPathMovieManualMode();
    void startStrobeMovieMode();
    void startStrobeMovieModeTypeA();
    void startStrobeMovieModeTypeB();
    void slotSetAnimeSlider(int value);
    void getMovieFileName(std::string& fname_);

    /* ---- Apply workflow (analysis/apply_workflow.cpp) ---- */
    void startAnalysisMode();
    void applyButtonPressed();

    /* ---- Drag selection (analysis/drag_selection.cpp) ---- */
    void drawSelectedRange();
    void saveSelectedRange();

    /* ---- Automatic analysis (analysis/auto_analysis.cpp) ---- */
    void barPathAnalysisMode();

    /* ---- Manual analysis (analysis/manual_analysis.cpp) ---- */
    void positionSelected();
    // Shows frame k with the path and the box and keeps a snapshot of it;
    // false (nothing shown, no snapshot) when frame k cannot be decoded.
    bool barPathAnalysisManualMode(int k);
    void barPathAnalysisManualNextFrame();

    /* ---- Strobe movie (strobe/strobe_movie.cpp) ---- */
    void makeStrobeMovie();

    /* ---- Measurement overlay (analysis/overlay.cpp) ---- */
    void drawTextAreaBoxToScene(QGraphicsScene* GS_);

    /* ---- Lift results (analysis/lift_results.cpp) ---- */
    void showChartWindow();

    /* ---- Live camera loop (video/live_camera.cpp) ---- */
    void updateCamera();

    /* ---- Settings and menus (app/settings.cpp, app/menus.cpp) ---- */
    void slotsFPSMenu();
    void slotsViewFlip();
    void barCenterInitPosEntered();
    void textPosEntered();
    void weightEntered();
    void strobeFrameEntered();

    /* ---- Start-up (app/mainwindow.cpp) ---- */
    int fexist(const std::string& filename);

protected:
    /* ---- Window events (app/mainwindow.cpp, app/window_events.cpp) ---- */
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // R, N and Q reach the window from any of its own widgets, the number
    // boxes included; digits still go to the boxes.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The keys of the window: Q closes it, N steps the manual analysis, R
    // starts and stops a recording.
    bool handleKey(int key);

private:
    /* ---- Construction steps (app/mainwindow.cpp, app/menus.cpp) ---- */
    void setupViews();
    void openCamera();
    void setupTabs();
    QWidget* setupTopBar();
    QSpinBox* makeSpinBox(int maximum, void (MainWindow::*slot)(), const char* toolTip, int value);
    QWidget* setupBottomBar();
    void setupLayout(QWidget* topBar, QWidget* bottomBar);
    void fillHistories();
    void createActions();
    void createMenus();
    void startCameraTimer();
    void probeFfmpeg();
    // Sizes the tab widget to the camera picture, within the screen.
    void sizeTabsToCamera();
    // The size the window may take on its screen, its frame left out.
    QSize screenRoom() const;
    // Keeps the whole window, frame included, within the screen's free area.
    void keepOnScreen();

    /* ---- Apply workflow (analysis/apply_workflow.cpp) ---- */
    int currentTab() const;
    // Steps 0 and 1 of every movie tab; returns true when step 1 stored the
    // end frame (the caller then goes on with its own work).
    bool applyRangeStep(int step, const char* afterEndPrompt);
    void returnToStartFrame();

    /* ---- Live camera loop (video/live_camera.cpp) ---- */
    void applyLiveStep(int step);
    // Milliseconds on the environment's clock since this window first read it.
    double liveClockMs();
    // Window, match, path and velocity of one processed tick.
    // False when the target was not found in this tick.
    bool trackLiveTarget();
    void drawLiveTrail();
    double liveClockOrigin_ = 0.0;
    bool liveClockStarted_ = false;

    /* ---- Movie file modes (video/movie_modes.cpp) ---- */
    // Shows frame `frame` of movieCapture1 on the current movie tab as the
    // slider does and makes it current. Leaves the display as it was and
    // returns false when the frame cannot be decoded.
    bool showMovieFrame(int frame);
    // Asks for a movie and opens it for the tab of `scene` through `captures`
    // of the three captures (the strobe tab reads through all three), reading
    // the frame rate when asked, and shows its first frame. A file that does
    // not open, reports no frames or gives no first picture is refused: the
    // captures are released and the prompt says "Movie file invalid.".
    bool openMovieForTab(QGraphicsScene* scene, int captures, bool readRate, std::string& fname);
    void refuseMovie(bool fileWasChosen);

    /* ---- Automatic analysis (analysis/auto_analysis.cpp) ---- */
    void applyAutoStep(int step);
    // Whether the analysis has a movie and a target it can search; when not,
    // says so in the prompt.
    bool autoAnalysisReady();
    // Looks for the plate around a target set on the frame shown.
    void findAutoPlate(const cv::Rect& target);

    /* ---- Manual analysis (analysis/manual_analysis.cpp) ---- */
    void applyManualStep(int step);
    void writeManualMovie();

    /* ---- Strobe movie (strobe/strobe_movie.cpp) ---- */
    void applyStrobeStep(int step);

    /* ---- Recording (video/recording.cpp) ---- */
    void startRecording();
    void stopRecording(RecordingEnd why = RecordingEnd::User);
    void keepRecordingResults(const std::string& movieFile);
    // True when the re-encoded copy replaced the recording.
    bool reencodeRecording(const std::string& input, const std::string& output, int frames);
    // Invokable so that a test can play the live loop's part.
    Q_INVOKABLE void recordTick();
};
