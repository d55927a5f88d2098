#include <cmath>
#include <limits>

#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QTemporaryDir>
#include <QtTest>

#include "analysis/overlay.h"
#include "app/mainwindow.h"
#include "test_support.h"

namespace
{

struct Overlay {
    QGraphicsRectItem* box = nullptr;
    QList<QGraphicsTextItem*> texts;
};

// The items of the one box in `scene`, in the order they were added.
Overlay overlayItems(QGraphicsScene& scene)
{
    Overlay o;
    const QList<QGraphicsItem*> items = scene.items(Qt::AscendingOrder);
    for (QGraphicsItem* item : items) {
        if (auto* rect = qgraphicsitem_cast<QGraphicsRectItem*>(item))
            o.box = rect;
        else if (auto* text = qgraphicsitem_cast<QGraphicsTextItem*>(item))
            o.texts << text;
    }
    return o;
}

QStringList lines(const Overlay& o)
{
    QStringList out;
    for (QGraphicsTextItem* t : o.texts)
        out << t->toPlainText();
    return out;
}

void draw(MainWindow& w, QGraphicsScene* scene)
{
    QVERIFY(QMetaObject::invokeMethod(&w, "drawTextAreaBoxToScene", Q_ARG(QGraphicsScene*, scene)));
}

} // namespace

class TestOverlay : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QDir::setCurrent(dir_.path());
    }
    void init()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
    }
    void cleanup() { resetEnvironment(); }

    void startValuesDrawTheDefaultBox()
    {
        MainWindow w;
        QGraphicsScene scene;
        draw(w, &scene);
        QCOMPARE(scene.items().size(), 6);
        const Overlay o = overlayItems(scene);
        QVERIFY(o.box);
        QCOMPARE(o.box->rect(), QRectF(415, 3, 220, 140));
        QCOMPARE(o.box->pos(), QPointF(0, 0));
        QCOMPARE(o.box->opacity(), 0.5);
        QCOMPARE(o.box->brush().color(), QColor(Qt::black));
        QCOMPARE(o.box->brush().style(), Qt::SolidPattern);
        QCOMPARE(o.box->pen().color(), QColor(Qt::black));
        QCOMPARE(o.box->pen().style(), Qt::SolidLine);
        QCOMPARE(o.box->pen().widthF(), 0.0);
        QVERIFY(o.box->pen().isCosmetic());
        // The box spans x 415..635 and y 3..143, nothing more.
        QCOMPARE(o.box->sceneBoundingRect(), QRectF(415, 3, 220, 140));

        const QStringList expected = {"Weight: 0[kg]", "Max H: 0[cm]", "      H: 0[cm]",
                                      "Max Vy:   0[cm/s]", "      Vy:   0[cm/s]"};
        QCOMPARE(lines(o), expected);
        const QList<QGraphicsItem*> stack = scene.items(Qt::AscendingOrder);
        for (int i = 0; i < o.texts.size(); ++i) {
            QGraphicsTextItem* t = o.texts[i];
            QCOMPARE(t->pos(), QPointF(420, 8 + 25 * i));
            QCOMPARE(t->font().pixelSize(), 20);
            QCOMPARE(t->font().weight(), QFont::Bold);
            QCOMPARE(t->font().family(), QFont().family());
            QCOMPARE(t->defaultTextColor(), QColor(Qt::green));
            QCOMPARE(t->opacity(), 1.0);
            // Texts lie above the half-transparent box.
            QVERIFY(stack.indexOf(t) > stack.indexOf(o.box));
        }
    }

    void valuesPositionAndRepeatedCalls()
    {
        MainWindow w;
        w.weight_ = 142;
        w.maxHeight_ = 123.5f; // %.0f rounds half to even
        w.height_ = 87.6f;
        w.maxVy_ = 245.4f;
        w.vy_ = -7.0f;
        w.textBoxX_ = 10;
        w.textBoxY_ = 300;
        QGraphicsScene scene;
        scene.addRect(0, 0, 5, 5); // an earlier item stays
        draw(w, &scene);
        QCOMPARE(scene.items().size(), 7);
        QGraphicsScene own;
        draw(w, &own);
        const Overlay o = overlayItems(own);
        const QStringList expected = {"Weight: 142[kg]", "Max H: 124[cm]", "      H: 88[cm]",
                                      "Max Vy: 245[cm/s]", "      Vy:  -7[cm/s]"};
        QCOMPARE(lines(o), expected);
        QCOMPARE(o.box->rect(), QRectF(10, 300, 220, 140));
        QCOMPARE(o.texts.first()->pos(), QPointF(15, 305));
        QCOMPARE(o.texts.last()->pos(), QPointF(15, 405));

        // Every call adds a new box over the old one.
        draw(w, &scene);
        QCOMPARE(scene.items().size(), 13);
    }

    void velocityLimitsChangeTheStoredValues_data()
    {
        QTest::addColumn<float>("maxVy");
        QTest::addColumn<float>("vy");
        QTest::addColumn<float>("storedMaxVy");
        QTest::addColumn<float>("storedVy");
        QTest::addColumn<QString>("maxLine");
        QTest::addColumn<QString>("vyLine");
        QTest::newRow("max above 1000 reads 999")
            << 1200.0f << 10.0f << 999.0f << 10.0f << "Max Vy: 999[cm/s]"
            << "      Vy:  10[cm/s]";
        QTest::newRow("max just above 1000")
            << 1000.5f << 0.0f << 999.0f << 0.0f << "Max Vy: 999[cm/s]"
            << "      Vy:   0[cm/s]";
        QTest::newRow("max 1000 kept") << 1000.0f << 0.0f << 1000.0f << 0.0f << "Max Vy: 1000[cm/s]"
                                       << "      Vy:   0[cm/s]";
        QTest::newRow("vy below -1000 reads 0")
            << 0.0f << -1500.0f << 0.0f << 0.0f << "Max Vy:   0[cm/s]"
            << "      Vy:   0[cm/s]";
        QTest::newRow("vy above 1000 reads 0")
            << 0.0f << 1000.25f << 0.0f << 0.0f << "Max Vy:   0[cm/s]"
            << "      Vy:   0[cm/s]";
        QTest::newRow("vy -1000 kept")
            << 0.0f << -1000.0f << 0.0f << -1000.0f << "Max Vy:   0[cm/s]"
            << "      Vy: -1000[cm/s]";
        QTest::newRow("vy 1000 kept") << 0.0f << 1000.0f << 0.0f << 1000.0f << "Max Vy:   0[cm/s]"
                                      << "      Vy: 1000[cm/s]";
        // A large negative maximum has no lower limit.
        QTest::newRow("negative max kept")
            << -2000.0f << 0.0f << -2000.0f << 0.0f << "Max Vy: -2000[cm/s]"
            << "      Vy:   0[cm/s]";
    }

    void velocityLimitsChangeTheStoredValues()
    {
        QFETCH(float, maxVy);
        QFETCH(float, vy);
        QFETCH(float, storedMaxVy);
        QFETCH(float, storedVy);
        QFETCH(QString, maxLine);
        QFETCH(QString, vyLine);
        MainWindow w;
        w.maxVy_ = maxVy;
        w.vy_ = vy;
        w.height_ = 1500.0f; // heights have no limit
        QGraphicsScene scene;
        draw(w, &scene);
        QCOMPARE(w.maxVy_, storedMaxVy);
        QCOMPARE(w.vy_, storedVy);
        QCOMPARE(w.height_, 1500.0f);
        const QStringList shown = lines(overlayItems(scene));
        QCOMPARE(shown.at(2), QString("      H: 1500[cm]"));
        QCOMPARE(shown.at(3), maxLine);
        QCOMPARE(shown.at(4), vyLine);
    }

    void valuesThatAreNotNumbersReadZero()
    {
        // Before a plate is calibrated a height is 0/0; the box must not show
        // "nan" and the stored value must not poison later maxima.
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const float inf = std::numeric_limits<float>::infinity();
        float maxHeight = nan, height = -inf, maxVy = inf, vy = nan;
        limitOverlayValues(maxHeight, height, maxVy, vy);
        QCOMPARE(maxHeight, 0.0f);
        QCOMPARE(height, 0.0f);
        QCOMPARE(maxVy, 0.0f);
        QCOMPARE(vy, 0.0f);

        MainWindow w;
        w.height_ = nan;
        QGraphicsScene scene;
        draw(w, &scene);
        QCOMPARE(w.height_, 0.0f);
        QCOMPARE(lines(overlayItems(scene)).at(2), QString("      H: 0[cm]"));
    }

private:
    QTemporaryDir dir_;
};

QTEST_MAIN(TestOverlay)
#include "tst_overlay.moc"
