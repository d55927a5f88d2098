#include "analysis/overlay.h"
#include "support.h"

class TstWindow : public QObject
{
    Q_OBJECT
    WorkDir dir_;
private slots:
    void cleanup() { resetEnvironment(); }

    // One window: the texts it shows; it goes quietly with an edit unfinished, the next quits on Q.
    void aWindowAndTheNext()
    {
        installFakeRig([](int) { return noiseFrame(320, 240, 1); });
        auto w = std::make_unique<MainWindow>();
        w->show();
        QTRY_COMPARE(QSize(w->shell_.viewWidth_, w->shell_.viewHeight_), w->autoView_->size());
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
            "&FPS>15|&FPS>20|&FPS>24|&FPS>30|&View>&Chart|Live Camera|Weight: 80[kg]|Max H: "
            "124[cm]|      H: "
            "0[cm]|Max Vy: 999[cm/s]|      Vy:   0[cm/s]";
        if (movieModesEnabled)
            expected += "|Strobe movie frame d|Strobe movie frame number|Strobe movie error|"
                        "Animation frame control|&Mode>&Movie file [Auto]|&Mode>&Movie file "
                        "[Manual]|&Mode>&Movie file [Strobe TypeA]|&Mode>&Movie file [Strobe "
                        "TypeB]|Movie Auto|Movie Manual|Strobe Movie";
        auto sorted = [](QStringList l) { return l.removeAll(""), l.sort(), l; };
        QCOMPARE(sorted(texts), sorted(expected.split('|')));
        QSpinBox* box = w->textXSpinBox_;
        w->activateWindow();
        box->setFocus();
        QTRY_VERIFY(box->hasFocus());
        QTest::keyClicks(box, "50");
        QVERIFY(w->settings_.textBoxX_ !=
                50);                 // not before the edit is finished: here as the window goes,
        QString told = "not edited"; // which the window, connected first, must not hear then
        connect(box, &QSpinBox::editingFinished, this, [&told, box, raw = w.get()] {
            told = QObject::disconnect(box, nullptr, raw, nullptr) ? "told" : "not told";
        });
        w.reset();
        QCOMPARE(told, "not told");
        MainWindow second;
        second.show();
        QTest::keyClick(&second, Qt::Key_Q);
        QVERIFY(!second.isVisible());
    }
    // A camera, then a movie, larger than the screen: the buttons stay on it. The
    // camera gives its first picture late: that one sizes the tabs.
    void largerThanTheScreen()
    {
        FakeRig rig =
            installFakeRig([](int k) { return k < 3 ? cv::Mat() : noiseFrame(1920, 1080, 2); });
        MainWindow w;
        QCOMPARE(w.tabWidget_->size(), QSize(15, 35));
        w.show();
        for (int i = 0; i < 5; ++i)
            advance(rig, 100);
        QTRY_COMPARE(w.camera_.cameraWidth_, 1920);
        auto onScreen = [&w] {
            for (const char* text : {"Analysis", "Apply", "Back"}) {
                QPushButton* b = findButton(w, text);
                if (!w.screen()->availableGeometry().contains(
                        QRect(b->mapToGlobal(QPoint(0, 0)), b->size())))
                    return false;
            }
            return true;
        };
        QTRY_VERIFY(w.tabWidget_->width() > 500 && onScreen());
        QVERIFY(writeMjpgMovie("big.avi", 2, {1280, 960}));
        answerNextFileDialog(dir_.path("big.avi"));
        QTest::mouseClick(findButton(w, "Back"), Qt::LeftButton);
        QCOMPARE(w.movie_.movieWidth, 1280);
        QTRY_VERIFY(onScreen());
    }
};
QTEST_MAIN(TstWindow)
#include "tst_window.moc"
