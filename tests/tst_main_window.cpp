#include <QAction>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/mainwindow.h"
#include "app/mygraphicsview.h"
#include "app/selection_state.h"
#include "app/text_box.h"
#include "stdout_capture.h"
#include "test_support.h"

namespace
{

QWidget* gridCell(MainWindow& w, int row)
{
    auto* grid = qobject_cast<QGridLayout*>(w.centralPanel_->layout());
    if (!grid || !grid->itemAtPosition(row, 0))
        return nullptr;
    return grid->itemAtPosition(row, 0)->widget();
}

// What a bar's box layout holds, left to right: label texts as they read,
// other widgets by their object.
QList<QObject*> barWidgets(QWidget* bar)
{
    QList<QObject*> out;
    QLayout* layout = bar ? bar->layout() : nullptr;
    for (int i = 0; layout && i < layout->count(); ++i)
        out << layout->itemAt(i)->widget();
    return out;
}

QString labelText(QObject* o)
{
    auto* label = qobject_cast<QLabel*>(o);
    return label ? label->text() : QString("<not a label>");
}

bool hasFixedWidth(const QWidget* w, int width)
{
    return w->minimumWidth() == width && w->maximumWidth() == width;
}

QAction* menuAction(QMenuBar* bar, const QString& title)
{
    for (QAction* a : bar->actions())
        if (a->text() == title)
            return a;
    return nullptr;
}

QStringList texts(const QList<QAction*>& actions)
{
    QStringList out;
    for (QAction* a : actions)
        out << a->text();
    return out;
}

// The five FPS actions as the user reaches them: View, then FPS.
QList<QAction*> fpsMenuActions(MainWindow& w)
{
    QAction* view = menuAction(w.menuBar(), "&View");
    if (!view || !view->menu())
        return {};
    for (QAction* a : view->menu()->actions())
        if (a->menu() && a->text() == "&FPS")
            return a->menu()->actions();
    return {};
}

QList<bool> checkStates(const QList<QAction*>& actions)
{
    QList<bool> out;
    for (QAction* a : actions)
        out << a->isChecked();
    return out;
}

// Types into a spin box as a user does: select what is there, type, and only
// then (when asked) finish the edit with Enter.
void typeInto(QSpinBox* box, const QString& digits, bool finish)
{
    box->selectAll();
    QTest::keyClicks(box, digits);
    if (finish)
        QTest::keyClick(box, Qt::Key_Return);
}

void checkStartValues(MainWindow& w)
{
    QCOMPARE(w.weight_, 0);
    QCOMPARE(w.barCenterInitPos_, 23.0f);
    QCOMPARE(w.textBoxX_, 415);
    QCOMPARE(w.textBoxY_, 3);
    QCOMPARE(w.textBoxWidth_, 220);
    QCOMPARE(w.textBoxHeight_, 140);
    QCOMPARE(w.strobeFrameStep_, 1);
    QCOMPARE(w.strobeFrameNumber_, 25);
    QCOMPARE(w.strobeError_, 20);
    QCOMPARE(w.viewFlip_, 0);
    QCOMPARE(w.FPS_, 12.0f);
    QCOMPARE(w.noCamera_, 0);
    QCOMPARE(w.timerInterval_, 1);
    QCOMPARE(w.frameCount_, 0);
    QCOMPARE(w.step_, 0);
    QCOMPARE(w.movie_frame_num, 0);
    QCOMPARE(w.analysis_start_frame, 0);
    QCOMPARE(w.analysis_end_frame, 0);
    QCOMPARE(w.movieWidth, 0);
    QCOMPARE(w.movieHeight, 0);
    QCOMPARE(w.maxHeight_, 0.0f);
    QCOMPARE(w.height_, 0.0f);
    QCOMPARE(w.maxVy_, 0.0f);
    QCOMPARE(w.vy_, 0.0f);
    QCOMPARE(w.platePixel_, 0.0f);
    QCOMPARE(w.recState_, 0);
    QCOMPARE(w.strobeType_, 0);
    QCOMPARE(w.trailMax_, 50);
    QCOMPARE(w.liveRect_, QRectF(0, 0, 0, 0));
    QVERIFY(w.templateMat.empty());
    QVERIFY(w.frameList_.empty());
    QCOMPARE(int(w.barX_.size()), 50);
    QCOMPARE(int(w.barY_.size()), 50);
    QCOMPARE(int(w.barVy_.size()), 50);
    QCOMPARE(int(w.barFrame_.size()), 50);
    for (int i = 0; i < 50; ++i) {
        QCOMPARE(w.barX_[i], 10.0f * i);
        QCOMPARE(w.barY_[i], 10.0f * i);
        QCOMPARE(w.barVy_[i], 0.0f);
        QCOMPARE(w.barFrame_[i], -1);
    }
    const SelectionState& s = selectionState();
    QCOMPARE(s.dragging_, 0);
    QCOMPARE(s.pressPos_.x, 0.0);
    QCOMPARE(s.dragPos_.y, 0.0);

    QCOMPARE(w.weightSpinBox_->value(), 0);
    QCOMPARE(w.textXSpinBox_->value(), 415);
    QCOMPARE(w.textYSpinBox_->value(), 3);
    QCOMPARE(w.barCenterSpinBox_->value(), 23);
    QCOMPARE(w.strobeStepSpinBox_->value(), 1);
    QCOMPARE(w.strobeNumberSpinBox_->value(), 25);
    QCOMPARE(w.strobeErrorSpinBox_->value(), 20);
    QCOMPARE(w.promptLabel_->text(), QString("Press [Analysis] button to start."));
    QCOMPARE(w.tabWidget_->currentIndex(), 0);
    QCOMPARE(checkStates(fpsMenuActions(w)), QList<bool>({true, false, false, false, false}));
    QVERIFY(!w.flipAction_->isChecked());
}

// Waits for the next modal message box, notes what it shows and confirms it
// with Return, as the user would.
struct BoxWatcher {
    QString title;
    QString text;
    QStringList buttons;
    QList<QMessageBox::ButtonRole> roles;
    bool seen = false;
    bool closedByReturn = false;
    QTimer timer;

    BoxWatcher()
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, &timer, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (seen) {
                // Return did not close it: close it anyway so the test ends.
                box->done(0);
                timer.stop();
                return;
            }
            seen = true;
            title = box->windowTitle();
            text = box->text();
            for (QAbstractButton* b : box->buttons()) {
                buttons << b->text();
                roles << box->buttonRole(b);
            }
            QTest::keyClick(box, Qt::Key_Return);
            closedByReturn = !box->isVisible();
            timer.stop();
            if (!closedByReturn)
                timer.start();
        });
        timer.start();
    }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        QVERIFY(dir_.isValid());
        // Every case gets an empty working directory of its own.
        workDir_ = std::make_unique<QTemporaryDir>(dir_.path() + "/case-XXXXXX");
        QVERIFY(QDir::setCurrent(workDir_->path()));
    }
    void cleanup()
    {
        QDir::setCurrent(dir_.path());
        workDir_.reset();
        resetEnvironment();
    }

    void windowLayout()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
        MainWindow w;
        QCOMPARE(w.windowTitle(), QString("Kestrova PC ver0.31 beta"));
        QCOMPARE(w.geometry().topLeft(), QPoint(300, 30));
        QCOMPARE(w.centralWidget(), w.centralPanel_);

        // Tabs, sized from the first camera frame.
        QCOMPARE(w.tabWidget_->size(), QSize(655, 515));
        QCOMPARE(w.tabWidget_->minimumSize(), QSize(655, 515));
        QCOMPARE(w.tabWidget_->maximumSize(), QSize(655, 515));
        QCOMPARE(w.tabWidget_->contentsMargins(), QMargins(0, 0, 0, 0));
        QCOMPARE(w.liveView_->scene(), &w.liveScene_);
        QCOMPARE(w.autoView_->scene(), &w.autoScene_);
        QCOMPARE(w.manualView_->scene(), &w.manualScene_);
        QCOMPARE(w.strobeView_->scene(), &w.strobeScene_);
        QCOMPARE(w.liveView_->contentsMargins(), QMargins(0, 0, 0, 0));
        QStringList titles;
        for (int i = 0; i < w.tabWidget_->count(); ++i)
            titles << w.tabWidget_->tabText(i);
        if (movieModesEnabled) {
            QCOMPARE(titles,
                     QStringList({"Live Camera", "Movie Auto", "Movie Manual", "Strobe Movie"}));
            QCOMPARE(w.tabWidget_->widget(1), w.autoView_);
            QCOMPARE(w.tabWidget_->widget(2), w.manualView_);
            QCOMPARE(w.tabWidget_->widget(3), w.strobeView_);
        } else {
            QCOMPARE(titles, QStringList({"Live Camera"}));
        }
        QCOMPARE(w.tabWidget_->widget(0), w.liveView_);

        // Rows of the grid, top to bottom.
        QWidget* topBar = gridCell(w, 0);
        QCOMPARE(gridCell(w, 1), w.tabWidget_);
        QWidget* bottomBar = gridCell(w, movieModesEnabled ? 3 : 2);
        QVERIFY(topBar && bottomBar);
        QCOMPARE(w.centralPanel_->layout()->contentsMargins(), QMargins(0, 0, 0, 0));
        QCOMPARE(int(w.centralPanel_->layout()->alignment()), int(Qt::AlignTop));
        for (QWidget* bar : {topBar, bottomBar}) {
            QCOMPARE(bar->minimumHeight(), 30);
            QCOMPARE(bar->maximumHeight(), 30);
            QCOMPARE(bar->layout()->contentsMargins(), QMargins(0, 0, 0, 0));
            QCOMPARE(bar->parentWidget(), w.centralPanel_);
        }
        QCOMPARE(int(topBar->layout()->alignment()), int(Qt::AlignLeft));

        // The slider row and the strobe inputs come with the movie modes only.
        QCOMPARE(w.animeSlider_->orientation(), Qt::Horizontal);
        QCOMPARE(w.animeSlider_->minimum(), 0);
        QCOMPARE(w.animeSlider_->maximum(), 1000);
        QCOMPARE(w.animeSlider_->toolTip(), QString("Animation frame control"));
        if (movieModesEnabled) {
            QCOMPARE(gridCell(w, 2), w.animeSlider_);
        } else {
            QCOMPARE(gridCell(w, 3), nullptr);
            for (QWidget* hidden : std::initializer_list<QWidget*>{
                     w.autoView_, w.manualView_, w.strobeView_, w.animeSlider_,
                     w.strobeStepSpinBox_, w.strobeNumberSpinBox_, w.strobeErrorSpinBox_})
                QCOMPARE(hidden->parentWidget(), nullptr);
        }

        const QList<QObject*> top = barWidgets(topBar);
        QCOMPARE(top.size(), movieModesEnabled ? 11 : 8);
        QCOMPARE(labelText(top[0]), QString("Weight:"));
        QCOMPARE(top[1], w.weightSpinBox_);
        QCOMPARE(labelText(top[2]), QString("Text Box: X"));
        QCOMPARE(top[3], w.textXSpinBox_);
        QCOMPARE(labelText(top[4]), QString("Y"));
        QCOMPARE(top[5], w.textYSpinBox_);
        QCOMPARE(labelText(top[6]), QString(" o:"));
        QCOMPARE(top[7], w.barCenterSpinBox_);
        if (movieModesEnabled) {
            QCOMPARE(top[8], w.strobeStepSpinBox_);
            QCOMPARE(top[9], w.strobeNumberSpinBox_);
            QCOMPARE(top[10], w.strobeErrorSpinBox_);
        }

        const QList<QObject*> bottom = barWidgets(bottomBar);
        QCOMPARE(bottom.size(), 4);
        QCOMPARE(bottom[0], w.promptLabel_);
        const QStringList buttonTexts = {"Analysis", "Apply", "Back"};
        for (int i = 0; i < 3; ++i) {
            auto* button = qobject_cast<QPushButton*>(bottom[i + 1]);
            QVERIFY(button);
            QCOMPARE(button->text(), buttonTexts[i]);
            QCOMPARE(button->toolTip(), buttonTexts[i]);
            QVERIFY(hasFixedWidth(button, 60));
        }
    }

    void spinBoxes_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("value");
        QTest::newRow("weight") << 0 << "Weight[kg]" << 999 << 0;
        QTest::newRow("text x") << 1 << "Text box position X[pixel]" << 999 << 415;
        QTest::newRow("text y") << 2 << "Text box position Y[pixel]" << 999 << 3;
        QTest::newRow("bar centre") << 3 << "Bar center initial height[cm]" << 999 << 23;
        QTest::newRow("strobe step") << 4 << "Strobe movie frame d" << 999 << 1;
        QTest::newRow("strobe number") << 5 << "Strobe movie frame number" << 999 << 25;
        QTest::newRow("strobe error") << 6 << "Strobe movie error" << 765 << 20;
    }

    void spinBoxes()
    {
        QFETCH(int, index);
        QFETCH(QString, toolTip);
        QFETCH(int, maximum);
        QFETCH(int, value);
        installFakeRig([](int) { return solidFrame(640, 480); });
        MainWindow w;
        QSpinBox* boxes[] = {w.weightSpinBox_,     w.textXSpinBox_,      w.textYSpinBox_,
                             w.barCenterSpinBox_,  w.strobeStepSpinBox_, w.strobeNumberSpinBox_,
                             w.strobeErrorSpinBox_};
        QSpinBox* box = boxes[index];
        QCOMPARE(box->toolTip(), toolTip);
        QCOMPARE(box->minimum(), 0);
        QCOMPARE(box->maximum(), maximum);
        QCOMPARE(box->value(), value);
        QVERIFY(hasFixedWidth(box, 60));
        // Typing beyond the range is refused by the box itself.
        typeInto(box, QString::number(maximum + 1), false);
        QVERIFY(box->value() <= maximum);
    }

    void startValues()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
        QCOMPARE(MainWindow::staticMetaObject.className(), "MainWindow");
        MainWindow w;
        checkStartValues(w);
        QCOMPARE(w.cameraWidth_, 640);
        QCOMPARE(w.cameraHeight_, 480);
        QCOMPARE(w.camera_frame.cols, 640);
    }

    void freshStartValuesInEveryWindow()
    {
        installFakeRig([](int) { return solidFrame(320, 240); });
        {
            MainWindow first;
            first.show();
            QVERIFY(QTest::qWaitForWindowExposed(&first));
            fpsMenuActions(first).at(4)->trigger();
            first.flipAction_->trigger();
            typeInto(first.weightSpinBox_, "120", true);
            typeInto(first.textXSpinBox_, "100", true);
            for (QPushButton* b : first.findChildren<QPushButton*>())
                if (b->text() == "Analysis")
                    QTest::mouseClick(b, Qt::LeftButton);
            QTest::mousePress(first.liveView_->viewport(), Qt::LeftButton, {}, QPoint(9, 9));
            QTest::mouseMove(first.liveView_->viewport(), QPoint(19, 19));
            first.step_ = 2;
            first.barX_.push_back(1.0f);
            first.maxVy_ = 55.0f;
            first.movieWidth = 640;
            QCOMPARE(first.FPS_, 30.0f);
            QCOMPARE(first.viewFlip_, 1);
            QCOMPARE(first.weight_, 120);
            QCOMPARE(first.textBoxX_, 100);
            QCOMPARE(selectionState().dragging_, 1);
        }
        MainWindow second;
        checkStartValues(second);
        QCOMPARE(second.cameraWidth_, 320);
        QCOMPARE(second.tabWidget_->size(), QSize(335, 275));
    }

    void menus()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
        MainWindow w;
        const QList<QAction*> bar = w.menuBar()->actions();
        if (movieModesEnabled) {
            QCOMPARE(texts(bar), QStringList({"&Mode", "&View"}));
            QCOMPARE(bar[0]->menu(), w.modeMenu_);
            QCOMPARE(texts(w.modeMenu_->actions()),
                     QStringList({"&Movie file [Auto]", "&Movie file [Manual]",
                                  "&Movie file [Strobe TypeA]", "&Movie file [Strobe TypeB]"}));
            QCOMPARE(w.modeMenu_->actions(),
                     QList<QAction*>({w.movieAutoAction_, w.movieManualAction_,
                                      w.strobeTypeAAction_, w.strobeTypeBAction_}));
        } else {
            QCOMPARE(texts(bar), QStringList({"&View"}));
            QCOMPARE(w.modeMenu_, nullptr);
            // Built, but no menu offers them.
            QCOMPARE(w.movieAutoAction_->text(), QString("&Movie file [Auto]"));
            QCOMPARE(w.strobeTypeBAction_->associatedObjects(), QList<QObject*>());
        }
        const QList<QAction*> view = menuAction(w.menuBar(), "&View")->menu()->actions();
        QCOMPARE(view.size(), 2);
        QCOMPARE(view[0], w.flipAction_);
        QCOMPARE(view[0]->text(), QString("&Flip"));
        QVERIFY(view[0]->isCheckable());
        QCOMPARE(view[1]->menu(), w.fpsMenu_);
        QCOMPARE(view[1]->text(), QString("&FPS"));
        const QList<QAction*> fps = fpsMenuActions(w);
        QCOMPARE(texts(fps), QStringList({"12", "15", "20", "24", "30"}));
        QCOMPARE(fps, QList<QAction*>(std::begin(w.fpsActions_), std::end(w.fpsActions_)));
        for (QAction* a : fps) {
            QVERIFY(a->isCheckable());
            QCOMPARE(a->actionGroup(), nullptr);
        }
        for (QAction* a : {w.movieAutoAction_, w.movieManualAction_, w.strobeTypeAAction_,
                           w.strobeTypeBAction_}) {
            QVERIFY(!a->isCheckable());
            QCOMPARE(a->parent(), &w);
        }
        for (QAction* a : w.findChildren<QAction*>())
            QVERIFY(a->shortcut().isEmpty());
    }

    void fpsMenu()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
        MainWindow w;
        const QList<QAction*> fps = fpsMenuActions(w);
        QCOMPARE(fps.size(), 5);

        w.frameCount_ = 17;
        StdoutCapture out;
        fps[3]->trigger(); // "24"
        QCOMPARE(out.take(), QByteArray("slotsFPSMenu: 3\n  FPS_: 24.0\n"));
        QCOMPARE(checkStates(fps), QList<bool>({false, false, false, true, false}));
        QCOMPARE(w.FPS_, 24.0f);
        QCOMPARE(w.frameCount_, 0);

        // The checked entry again: Qt unchecks it first, the slot checks it
        // again and still restarts the pacing.
        w.frameCount_ = 5;
        fps[3]->trigger();
        QCOMPARE(checkStates(fps), QList<bool>({false, false, false, true, false}));
        QCOMPARE(w.frameCount_, 0);

        const float rates[] = {12.0f, 15.0f, 20.0f, 24.0f, 30.0f};
        for (int k : {4, 0, 2, 1}) {
            fps[k]->trigger();
            QCOMPARE(w.FPS_, rates[k]);
            QList<bool> expected(5, false);
            expected[k] = true;
            QCOMPARE(checkStates(fps), expected);
        }
    }

    void fpsSlotIgnoresOtherSenders()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
        MainWindow w;
        fpsMenuActions(w).at(2)->trigger();
        w.frameCount_ = 9;
        StdoutCapture out;
        // No sender at all, then an action that is not one of the five.
        QVERIFY(QMetaObject::invokeMethod(&w, "slotsFPSMenu"));
        QAction stranger("30");
        connect(&stranger, &QAction::triggered, &w,
                [&w] { QMetaObject::invokeMethod(&w, "slotsFPSMenu", Qt::DirectConnection); });
        stranger.trigger();
        QCOMPARE(out.take(), QByteArray());
        QCOMPARE(w.FPS_, 20.0f);
        QCOMPARE(w.frameCount_, 9);
        QCOMPARE(checkStates(fpsMenuActions(w)), QList<bool>({false, false, true, false, false}));
    }

    void flipFromTheViewMenu()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
        MainWindow w;
        QAction* flip = menuAction(w.menuBar(), "&View")->menu()->actions().at(0);
        StdoutCapture out;
        flip->trigger();
        QCOMPARE(w.viewFlip_, 1);
        QVERIFY(flip->isChecked());
        flip->trigger();
        QCOMPARE(w.viewFlip_, 0);
        QVERIFY(!flip->isChecked());
        QCOMPARE(out.take(), QByteArray("slotsViewFlip()\nslotsViewFlip()\n"));
    }

    void settingsTakeEffectWhenTheEditIsFinished()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
        MainWindow w;

        typeInto(w.weightSpinBox_, "85", false);
        QCOMPARE(w.weightSpinBox_->value(), 85);
        QCOMPARE(w.weight_, 0);
        StdoutCapture out;
        QTest::keyClick(w.weightSpinBox_, Qt::Key_Return);
        QVERIFY(out.take().startsWith("weightEntered()\n"));
        QCOMPARE(w.weight_, 85);

        typeInto(w.barCenterSpinBox_, "40", true);
        QCOMPARE(w.barCenterInitPos_, 40.0f);

        // Finishing the edit of one strobe input re-reads all three.
        typeInto(w.strobeStepSpinBox_, "3", false);
        typeInto(w.strobeNumberSpinBox_, "12", false);
        QCOMPARE(w.strobeFrameStep_, 1);
        typeInto(w.strobeErrorSpinBox_, "700", true);
        QCOMPARE(w.strobeFrameStep_, 3);
        QCOMPARE(w.strobeFrameNumber_, 12);
        QCOMPARE(w.strobeError_, 700);
    }

    void analysisAndApplyButtons()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
        MainWindow w;
        QPushButton* analysis = nullptr;
        QPushButton* apply = nullptr;
        for (QPushButton* b : w.findChildren<QPushButton*>()) {
            if (b->text() == "Analysis")
                analysis = b;
            if (b->text() == "Apply")
                apply = b;
        }
        QVERIFY(analysis && apply);
        QTest::mouseClick(analysis, Qt::LeftButton);
        QCOMPARE(w.promptLabel_->text(), QString("Please drag 45cm plate and press [Apply]:"));
        QTest::mouseClick(apply, Qt::LeftButton);
        QCOMPARE(w.promptLabel_->text(), QString("Please drag target area and press Apply:"));
        QCOMPARE(w.step_, 1);
    }

    void textBoxPosition_data()
    {
        QTest::addColumn<int>("movieWidth");
        QTest::addColumn<int>("movieHeight");
        QTest::addColumn<int>("typedX");
        QTest::addColumn<int>("typedY");
        QTest::addColumn<int>("storedX");
        QTest::addColumn<int>("storedY");
        QTest::newRow("no movie: as typed") << 0 << 0 << 600 << 900 << 600 << 900;
        QTest::newRow("640x480 movie: both clamped") << 640 << 480 << 600 << 400 << 420 << 340;
        QTest::newRow("on the limit") << 640 << 480 << 420 << 340 << 420 << 340;
        QTest::newRow("just inside") << 640 << 480 << 419 << 339 << 419 << 339;
        QTest::newRow("only the width known") << 640 << 0 << 999 << 999 << 420 << 999;
        QTest::newRow("only the height known") << 0 << 480 << 999 << 999 << 999 << 340;
    }

    void textBoxPosition()
    {
        QFETCH(int, movieWidth);
        QFETCH(int, movieHeight);
        QFETCH(int, typedX);
        QFETCH(int, typedY);
        QFETCH(int, storedX);
        QFETCH(int, storedY);
        installFakeRig([](int) { return solidFrame(640, 480); });
        MainWindow w;
        w.movieWidth = movieWidth;
        w.movieHeight = movieHeight;
        typeInto(w.textXSpinBox_, QString::number(typedX), false);
        StdoutCapture out;
        // Finishing the Y edit stores X too.
        typeInto(w.textYSpinBox_, QString::number(typedY), true);
        QCOMPARE(out.take().left(17), QByteArray("textPosEntered()\n"));
        QCOMPARE(w.textBoxX_, storedX);
        QCOMPARE(w.textBoxY_, storedY);
        // The boxes keep what the user typed.
        QCOMPARE(w.textXSpinBox_->value(), typedX);
        QCOMPARE(w.textYSpinBox_->value(), typedY);
        QCOMPARE(clampTextBoxPosition(typedX, movieWidth, 220), storedX);
    }

    void missingCamera()
    {
        auto rig = installFakeRig([](int) { return solidFrame(640, 480); }, false);
        BoxWatcher watcher;
        StdoutCapture out;
        MainWindow w;
        const QByteArray trace = out.take();
        QVERIFY(watcher.seen);
        QCOMPARE(watcher.title, QString("Error Message"));
        QCOMPARE(watcher.text, QString("There is no web camera in this PC.\n Please set web camera "
                                       "and restart the App."));
        QCOMPARE(watcher.buttons, QStringList({"OK"}));
        QCOMPARE(watcher.roles, QList<QMessageBox::ButtonRole>({QMessageBox::ActionRole}));
        QVERIFY(watcher.closedByReturn);

        QCOMPARE(w.noCamera_, 1);
        QCOMPARE(w.cameraWidth_, 0);
        QCOMPARE(w.cameraHeight_, 0);
        QVERIFY(w.camera_frame.empty());
        QCOMPARE(w.tabWidget_->size(), QSize(15, 35));
        QVERIFY(trace.startsWith("cap opened\ncamera_frame: 0, 0\n"));

        // The window goes on the first camera tick.
        w.show();
        QVERIFY(w.isVisible());
        QTRY_VERIFY(!w.isVisible());
    }

    void startupTraceAndWorkingDirectory()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
        {
            StdoutCapture out;
            MainWindow w;
            QCOMPARE(out.take(), QByteArray("cap opened\ncamera_frame: 640, 480\n\n\n\n"
                                            "ffmpegFlag = 0\n"));
            QCOMPARE(w.ffmpegFlag, 0);
            QVERIFY(QFileInfo("output").isDir());
        }
        // A second start finds output/ and an ffmpeg next to it.
        QFile ffmpeg(ffmpegExecutableNameForTest());
        QVERIFY(ffmpeg.open(QIODevice::WriteOnly));
        ffmpeg.close();
        StdoutCapture out;
        MainWindow w;
        QVERIFY(out.take().endsWith("ffmpegFlag = 1\n"));
        QCOMPARE(w.ffmpegFlag, 1);
        QVERIFY(QFileInfo("output").isDir());
        int found = 0;
        QVERIFY(QMetaObject::invokeMethod(&w, "fexist", Q_RETURN_ARG(int, found),
                                          Q_ARG(const char*, "output")));
        QCOMPARE(found, 1);
        QVERIFY(QMetaObject::invokeMethod(&w, "fexist", Q_RETURN_ARG(int, found),
                                          Q_ARG(const char*, "no-such-file")));
        QCOMPARE(found, 0);
    }

    void resizeStoresTheAutoViewSize()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QSize target(w.width() + 40, w.height() + 30);
        StdoutCapture out;
        w.resize(target);
        QTRY_COMPARE(w.size(), target);
        QCoreApplication::processEvents();
        QVERIFY(out.take().contains("MainWindow::resizeEvent\n"));
        QCOMPARE(w.viewWidth_, w.autoView_->width());
        QCOMPARE(w.viewHeight_, w.autoView_->height());
        if (!movieModesEnabled) {
            // The hidden view keeps Qt's size for a window never shown.
            QCOMPARE(w.viewWidth_, 640);
            QCOMPARE(w.viewHeight_, 480);
        }
        QVERIFY(out.take().contains(
            QString("  w=%1, h=%2\n").arg(w.viewWidth_).arg(w.viewHeight_).toLatin1()));
    }

    void closingWithAFocusedSpinBoxRunsNoSlot()
    {
        // Tearing the window down moves the focus out of the spin box; its
        // editingFinished() must not reach the window any more.
        installFakeRig([](int) { return solidFrame(640, 480); });
        auto w = std::make_unique<MainWindow>();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->activateWindow();
        w->textXSpinBox_->setFocus();
        QTRY_VERIFY(w->textXSpinBox_->hasFocus());
        StdoutCapture out;
        w.reset();
        QCoreApplication::processEvents();
        QCOMPARE(out.take(), QByteArray());
    }

private:
    static QString ffmpegExecutableNameForTest()
    {
#ifdef _WIN32
        return "ffmpeg.exe";
#else
        return "ffmpeg";
#endif
    }

    QTemporaryDir dir_;
    std::unique_ptr<QTemporaryDir> workDir_;
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
