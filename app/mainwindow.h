#pragma once

#include <string>
#include <vector>

#include <QGraphicsScene>
#include <QMainWindow>
#include <QRectF>
#include <QString>

#include <opencv2/core.hpp>

#include "analysis/apply_workflow.h"
#include "analysis/auto_analysis.h"
#include "analysis/live_tracking.h"
#include "analysis/manual_analysis.h"
#include "analysis/measurement.h"
#include "app/settings.h"
#include "video/live_camera.h"
#include "video/movie_session.h"
#include "video/recording.h"
#include "video/trace_row.h"

class QAction;
class QCloseEvent;
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

// The window's own state: the size of the views, and the long work under way.
struct WindowState {
    // Size of autoView_, stored by resizeEvent; the selections map view points with it.
    int viewWidth_ = 0;
    int viewHeight_ = 0;
    // How many WorkProgress are open; while any is, keys and closing wait.
    int workDepth_ = 0;
    // Set by a close request during cancellable work: it stops at its next frame.
    bool cancelRequested_ = false;
    bool closeAfterWork_ = false;
    std::vector<int> keysAfterWork_;
};

// The one controller of the program. Its slots are implemented next to the
// subsystem they belong to, in the `_slots.cpp` file each section names; the
// arithmetic they call lives in plain files beside them that need no window.
//
// The window state is one record per subsystem, declared in that subsystem's
// header and written by it; the others read it or call its functions. It is
// public so that the tests reach it by the same names. It belongs to one
// window, so a new window starts from the start values again.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow();
    ~MainWindow() override;

    /* ---- The window state, a record per subsystem ---- */
    Settings settings_;    // app/settings.h
    WindowState shell_;    // app/mainwindow.h
    LiveCamera camera_;    // video/live_camera.h
    MovieSession movie_;   // video/movie_session.h
    Recording rec_;        // video/recording.h
    Workflow flow_;        // analysis/apply_workflow.h
    LiveTrace live_;       // analysis/live_tracking.h
    Measurement measure_;  // analysis/measurement.h
    ManualSession manual_; // analysis/manual_analysis.h

    /* ---- Widgets, menus and actions (app/mainwindow.cpp, app/menus_slots.cpp) ---- */
    QWidget* centralPanel_ = nullptr;
    MyGraphicsView* liveView_ = nullptr;
    MyGraphicsView* autoView_ = nullptr;
    MyGraphicsView* manualView_ = nullptr;
    MyGraphicsView* strobeView_ = nullptr;
    QTabWidget* tabWidget_ = nullptr;
    QSlider* animeSlider_ = nullptr;
    QLabel* promptLabel_ = nullptr;
    QTimer* cameraTimer_ = nullptr;
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
    QAction* chartAction_ = nullptr;
    // Made with the window and shown by View > Chart; it keeps the last kept
    // trace and, once shown, follows the live trace.
    LiftChartWindow* chartWindow_ = nullptr;

    /* ---- Frame display (video/frame_display_slots.cpp) ---- */
    bool presentFirstFrame(QGraphicsScene* scene);

    /* ---- Long work (app/work_progress.cpp, app/window_events_slots.cpp) ---- */
    // Runs what waited for the work: the keys pressed meanwhile, then a close.
    void workEnded();

    /* ---- Lift results (analysis/lift_results_slots.cpp) ---- */
    // Writes the trace, its phases and the chart beside a kept movie and shows
    // them in the chart window; a failure is added to the prompt. `why` says
    // why there are no cm, when there is no scale.
    void keepLiftResults(const std::string& movieFile, const std::vector<TraceRow>& rows,
                         const QString& why = QString());

    // Held by value; declared last so that they go before everything else.
    QGraphicsScene liveScene_;
    QGraphicsScene autoScene_;
    QGraphicsScene manualScene_;
    QGraphicsScene strobeScene_;

private slots:
    /* ---- Movie file modes (video/movie_modes_slots.cpp) ---- */
    void startBarPathMovieAutoMode();
    void startBarPathMovieManualMode();
    void startStrobeMovieMode();
    void startStrobeMovieModeTypeA();
    void startStrobeMovieModeTypeB();
    void slotSetAnimeSlider(int value);
    void getMovieFileName(std::string& fname_);

    /* ---- Apply workflow (analysis/apply_workflow_slots.cpp) ---- */
    void startAnalysisMode();
    void applyButtonPressed();

    /* ---- Drag selection (analysis/drag_selection_slots.cpp) ---- */
    void drawSelectedRange();
    void saveSelectedRange();

    /* ---- Automatic analysis (analysis/auto_analysis_slots.cpp) ---- */
    void barPathAnalysisMode();

    /* ---- Manual analysis (analysis/manual_analysis_slots.cpp) ---- */
    void positionSelected();
    // Shows frame k with the path and the box and keeps a snapshot of it;
    // false (nothing shown, no snapshot) when frame k cannot be decoded.
    bool barPathAnalysisManualMode(int k);
    void barPathAnalysisManualNextFrame();

    /* ---- Strobe movie (strobe/strobe_movie_slots.cpp) ---- */
    void makeStrobeMovie();

    /* ---- Measurement overlay (analysis/overlay_slots.cpp) ---- */
    void drawTextAreaBoxToScene(QGraphicsScene* GS_);

    /* ---- Lift results (analysis/lift_results_slots.cpp) ---- */
    void showChartWindow();

    /* ---- Live camera loop (video/live_camera_slots.cpp) ---- */
    void updateCamera();

    /* ---- Settings and menus (app/settings_slots.cpp, app/menus_slots.cpp) ---- */
    void slotsFPSMenu();
    void slotsViewFlip();
    void barCenterInitPosEntered();
    void textPosEntered();
    void weightEntered();
    void strobeFrameEntered();

    /* ---- Start-up (app/mainwindow.cpp) ---- */
    int fexist(const std::string& filename);

protected:
    /* ---- Window events (app/mainwindow.cpp, app/window_events_slots.cpp) ---- */
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
    /* ---- Construction steps (app/mainwindow.cpp, app/menus_slots.cpp) ---- */
    void setupViews();
    void openCamera();
    void setupTabs();
    QWidget* setupTopBar();
    QSpinBox* makeSpinBox(int maximum, void (MainWindow::*slot)(), const char* toolTip, int value);
    QWidget* setupBottomBar();
    void setupLayout(QWidget* topBar, QWidget* bottomBar);
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

    /* ---- Apply workflow (analysis/apply_workflow_slots.cpp) ---- */
    Tab currentTab() const;
    void applyLiveStep(LiveStep step);
    // The first two steps of every movie tab; returns true when the second
    // stored the end frame (the caller then goes on with its own work).
    bool applyRangeStep(RangeStep step, const char* afterEndPrompt);
    void returnToStartFrame();

    /* ---- Live camera loop (video/live_camera_slots.cpp) ---- */
    // The steps of a processed tick.
    // Whether the grid has a frame due at `now`; `a_time` is then the time
    // since the last processed tick.
    bool liveTickDue(double now, double& a_time);
    void readCameraFrame(double a_time, float delay);
    void showCameraFrame();
    void drawLiveScene(double now, float delay);
    void recordLiveTick(const TraceRow& row);
    void drawLiveTrail();

    /* ---- Movie file modes (video/movie_modes_slots.cpp) ---- */
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

    /* ---- Automatic analysis (analysis/auto_analysis_slots.cpp) ---- */
    void applyAutoStep(AutoStep step);
    // Whether the analysis has a movie and a target it can search; when not,
    // says so in the prompt.
    bool autoAnalysisReady();
    // Looks for the plate around a target set on the frame shown.
    void findAutoPlate(const cv::Rect& target);
    // The frames of the range: tracked, burned into the analysed movie.
    AutoRun runAutoAnalysis(cv::Size frameSize);
    // The end of an analysis: the last frame and its path on the scene, the
    // movie kept or not, and the prompt that says which.
    void finishAutoAnalysis(AutoRun& run, const std::string& fname);

    /* ---- Manual analysis (analysis/manual_analysis_slots.cpp) ---- */
    void applyManualStep(ManualStep step);
    void writeManualMovie();

    /* ---- Strobe movie (strobe/strobe_movie_slots.cpp) ---- */
    void applyStrobeStep(StrobeStep step);

    /* ---- Recording (video/recording_slots.cpp) ---- */
    void startRecording();
    void stopRecording(RecordingEnd why = RecordingEnd::User);
    void keepRecordingResults(const std::string& movieFile);
    // True when the re-encoded copy replaced the recording.
    bool reencodeRecording(const std::string& input, const std::string& output, int frames);
    // The live loop's part in a recording: this tick's snapshot and row.
    void recordTick(const TraceRow& row);
};
