#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "analysis/frame_mapping.h"
#include "app/mainwindow.h"
#include "test_support.h"

namespace {

QPushButton* button(MainWindow& w, const QString& text)
{
    for (QPushButton* b : w.findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

} // namespace

class TestApplyWorkflow : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { resetEnvironment(); }

    void sliderRules()
    {
        // 500 * 301 / 1000 = 150.5, truncated.
        QCOMPARE(frameFromSlider(500, 301, 1000), 150);
        // The maximum stands for one past the last frame.
        QCOMPARE(frameFromSlider(1000, 301, 1000), 301);
        // 1000 * 150 / 301 = 498.3, truncated.
        QCOMPARE(sliderForStartFrame(150, 301, 1000), 498);
        // No movie open: nothing to divide by.
        QCOMPARE(sliderForStartFrame(150, 0, 1000), 0);
        // A long movie does not overflow the product.
        QCOMPARE(frameFromSlider(1000, 3000000, 1000), 3000000);
    }

    void liveTabSteps()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
        MainWindow w;
        w.templateMat = cv::Mat(4, 4, CV_8UC3, cv::Scalar::all(1));

        // Apply before the first Analysis acts as step 0 and keeps the template.
        QTest::mouseClick(button(w, "Apply"), Qt::LeftButton);
        QCOMPARE(w.step_, 1);
        QCOMPARE(w.promptLabel_->text(), QString("Please drag target area and press Apply:"));
        QVERIFY(!w.templateMat.empty());

        QTest::mouseClick(button(w, "Analysis"), Qt::LeftButton);
        QCOMPARE(w.step_, 0);
        QVERIFY(w.templateMat.empty());
        QCOMPARE(w.promptLabel_->text(), QString("Please drag 45cm plate and press [Apply]:"));
        QTest::mouseClick(button(w, "Apply"), Qt::LeftButton);
        QTest::mouseClick(button(w, "Apply"), Qt::LeftButton);
        QCOMPARE(w.step_, 2);
        QCOMPARE(w.promptLabel_->text(), QString("Trace mode is activated:"));

        // The final step stays; not even the prompt changes.
        w.promptLabel_->setText("marker");
        QTest::mouseClick(button(w, "Apply"), Qt::LeftButton);
        QCOMPARE(w.step_, 2);
        QCOMPARE(w.promptLabel_->text(), QString("marker"));
    }
};

QTEST_MAIN(TestApplyWorkflow)
#include "tst_apply_workflow.moc"
