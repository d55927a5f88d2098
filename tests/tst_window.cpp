#include <QtTest>
#include <QtWidgets>

#include "analysis/overlay.h"
#include "app/mainwindow.h"
#include "app/mygraphicsview.h"
#include "support.h"

class TstWindow : public QObject
{
    Q_OBJECT
    WorkDir dir_;
private slots:
    void cleanup() { resetEnvironment(); }

    void missingCameraClosesTheWindow()
    {
        installFakeRig({}, false);
        QString shown;
        QTimer::singleShot(0, this, [&shown] { // by then the box waits for the user
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QTest::keyClick(box, Qt::Key_Return);
            shown = box->windowTitle() + (box->isVisible() ? " stays: " : ": ") + box->text();
            box->done(0);
        });
        MainWindow w;
        QCOMPARE(shown, "Error Message: There is no web camera in this PC.\n Please set web camera "
                        "and restart the App.");
        w.show();
        QTRY_VERIFY(!w.isVisible()); // on the first camera tick
    }

    // One window: what it shows, its menus and settings; the next starts afresh.
    void aWindowAndTheNext()
    {
        const cv::Mat frame = noiseFrame(320, 240, 1);
        installFakeRig([frame](int) { return frame.clone(); });
        auto w = std::make_unique<MainWindow>();
        auto state = [](auto& m) { return QVariantList{m.FPS_, m.viewFlip_, m.textBoxX_}; };
        const QVariantList fresh = state(*w);
        w->show();
        QTRY_COMPARE(QSize(w->viewWidth_, w->viewHeight_), w->autoView_->size());
        QStringList texts(w->windowTitle()); // strobe boxes and slider: movie modes only
        for (QWidget* x : w->findChildren<QWidget*>())
            if (x->isVisible() && !x->inherits("QLineEdit")) // a spin box's text is its value
                texts << x->toolTip()
                      << (x->inherits("QSpinBox") ? "" : x->property("text").toString());
        for (QMenu* m : w->menuBar()->findChildren<QMenu*>())
            for (QAction* a : m->actions())
                texts << m->title() + ">" + a->text();
        for (int i = 0; i < w->tabWidget_->count(); ++i)
            texts << w->tabWidget_->tabText(i);
        float maxH = 123.6f, h = NAN, maxVy = 1000.5f, vy = -1000.5f; // the box: 124, 0, 999, 0
        limitOverlayValues(maxH, h, maxVy, vy);
        for (const std::string& line : overlayLines(80, maxH, h, maxVy, vy))
            texts << line.c_str();
        QString expected =
            "Kestrova PC ver0.31 beta|Weight:|Text Box: X|Y| o:|Press [Analysis] button to start.|"
            "Analysis|Apply|Back|Analysis|Apply|Back|Weight[kg]|Text box position X[pixel]|Text "
            "box position Y[pixel]|Bar center initial height[cm]|&View>&Flip|&View>&FPS|&FPS>12|"
            "&FPS>15|&FPS>20|&FPS>24|&FPS>30|Live Camera|Weight: 80[kg]|Max H: 124[cm]|      H: "
            "0[cm]|Max Vy: 999[cm/s]|      Vy:   0[cm/s]";
        if (movieModesEnabled)
            expected += "|Strobe movie frame d|Strobe movie frame number|Strobe movie error|"
                        "Animation frame control|&Mode>&Movie file [Auto]|&Mode>&Movie file "
                        "[Manual]|&Mode>&Movie file [Strobe TypeA]|&Mode>&Movie file [Strobe "
                        "TypeB]|Movie Auto|Movie Manual|Strobe Movie";
        auto sorted = [](QStringList l) { return l.removeAll(""), l.sort(), l; };
        QCOMPARE(sorted(texts), sorted(expected.split('|')));
        w->flipAction_->trigger();
        const QList<QAction*> fps = w->fpsMenu_->actions();
        for (int k : {3, 3, 4}) {
            fps[k]->trigger();
            QCOMPARE(w->FPS_, fps[k]->text().toFloat());
            for (int i = 0; i < 5; ++i)
                QCOMPARE(fps[i]->isChecked(), i == k);
        }
        const cv::Mat& shown = w->currentFrameMat; // mirrored, and at once: the pacing restarts
        QTRY_VERIFY(!shown.empty() && shown.at<cv::Vec3b>(0, 0) == frame.at<cv::Vec3b>(0, 319));
        if (movieModesEnabled) { // the text box must stay on the movie's 320 x 240 picture
            answerNextFileDialog(dir_.movie("box.avi", 3, cv::Size(320, 240)));
            w->movieAutoAction_->trigger();
        }
        auto type = [](QSpinBox* b, const char* k) { b->selectAll(), QTest::keyClicks(b, k); };
        type(w->weightSpinBox_, "85\r"); // Return finishes an edit
        type(w->textXSpinBox_, "600\r");
        type(w->textYSpinBox_, "900\r");
        QCOMPARE(QList<int>({w->weight_, w->textBoxX_, w->textBoxY_}),
                 QList<int>({85, movieModesEnabled ? 100 : 600, movieModesEnabled ? 100 : 900}));
        QSpinBox* box = w->textXSpinBox_;
        w->activateWindow();
        box->setFocus();
        QTRY_VERIFY(box->hasFocus());
        type(box, "50");
        QVERIFY(w->textBoxX_ != 50); // not before the edit is finished: here as the window goes,
        QString told = "not edited"; // which the window, connected first, must not hear then
        connect(box, &QSpinBox::editingFinished, this, [&told, box, raw = w.get()] {
            told = QObject::disconnect(box, nullptr, raw, nullptr) ? "told" : "not told";
        });
        w.reset();
        QCOMPARE(told, "not told");
        MainWindow second;
        QCOMPARE(state(second), fresh);
        second.show();
        QTest::keyClick(&second, Qt::Key_Q);
        QVERIFY(!second.isVisible());
    }
};
QTEST_MAIN(TstWindow)
#include "tst_window.moc"
