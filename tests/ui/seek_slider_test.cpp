#include "ui/seek_slider.h"
#include "ui/resources.h"
#include "ui/transparent_static.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <vector>

using namespace lyb::ui;

namespace {

constexpr int kId = 1019;

struct Notice {
    int type;
    int position;
    bool operator==(const Notice&) const = default;
};

constexpr int kChanging = 1;
constexpr int kChanged = 2;

// The slider's parent, keeping the notices that reach it.
class Parent : public QWidget {
public:
    std::vector<Notice> notices;
    void listen(CSeekSlider* slider) {
        connect(slider, &CSeekSlider::positionChanging, this, [this](int position) {
            notices.push_back({kChanging, position});
        });
        connect(slider, &CSeekSlider::positionChanged, this, [this](int position) {
            notices.push_back({kChanged, position});
        });
    }
    // Delivers what was posted and returns it, forgetting it here.
    std::vector<Notice> delivered() {
        QCoreApplication::sendPostedEvents();
        return std::exchange(notices, {});
    }
};

// The slider as the main window sets it up: 171-pixel track, 20-pixel thumb,
// margins of 4, page size 100.
struct Fixture {
    Parent parent;
    CSeekSlider* slider = new CSeekSlider(kId, &parent);
    Fixture(int minimum = 0, int maximum = 1000) {
        parent.listen(slider);
        EXPECT_TRUE(slider->set_track_bitmaps(QStringLiteral(":/images/slider_track.png")));
        EXPECT_TRUE(slider->set_thumb_bitmaps(QStringLiteral(":/images/slider_thumb.png")));
        slider->set_margins(4, 4);
        slider->set_page_size(100);
        slider->set_range(minimum, maximum, true);
    }
    void pen(QEvent::Type type, int x) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, QPointF(x, 11), QPointF(x, 11), Qt::LeftButton, held,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(slider, &event);
    }
    void key(int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(slider, &event);
    }
};

}  // namespace

TEST(SeekSlider, TakesItsSizeFromTheTrackAndTheThumb) {
    Fixture f;
    EXPECT_EQ(f.slider->size(), QSize(171, 23));
    EXPECT_EQ(f.slider->position(), 0);
    EXPECT_EQ(f.slider->set_page_size(5), 100);
    EXPECT_FALSE(f.slider->set_thumb_bitmaps(QStringLiteral(":/images/none.png")));
}

TEST(SeekSlider, KeyColourOfATransparentThumbLetsTheTrackShowThrough) {
    QImage keyed(20, 23, QImage::Format_RGB32);
    keyed.fill(Qt::magenta);
    keyed.setPixel(10, 11, qRgb(0, 0, 0));
    const QString path = QDir::temp().filePath(QStringLiteral("keyed_thumb.png"));
    ASSERT_TRUE(keyed.save(path));
    Fixture f;
    ASSERT_TRUE(f.slider->set_thumb_bitmaps(path, {}, true));  // keyed by its corner pixel
    const QImage track = load_pixmap(QStringLiteral(":/images/slider_track.png"), 1.0).toImage();
    const QImage shown = f.slider->grab().toImage();
    EXPECT_EQ(shown.pixel(5, 3), track.pixel(5, 3));
    EXPECT_EQ(shown.pixel(14, 11), qRgb(0, 0, 0));
}

// Made longer (or shorter), the track keeps its ends and repeats its middle;
// the thumb travels the whole length.
TEST(SeekSlider, StretchedTrackKeepsItsEndsAndRepeatsItsMiddle) {
    const QImage track = load_pixmap(QStringLiteral(":/images/slider_track.png"), 1.0).toImage();
    for (int length : {400, 120}) {
        SCOPED_TRACE(length);
        Fixture f;
        f.slider->set_track_ends(12, 12);
        f.slider->resize(length, 23);
        EXPECT_EQ(f.slider->thumbCentre(1000), length - 4 - 10);
        const QImage shown = f.slider->grab().toImage();  // the thumb at the left, 4 to 23
        const auto sameColumn = [&](int shownX, int trackX) {
            for (int y = 0; y < 23; ++y)
                if (shown.pixel(shownX, y) != track.pixel(trackX, y))
                    return false;
            return true;
        };
        for (int x = 0; x < 4; ++x)
            EXPECT_TRUE(sameColumn(x, x)) << x;
        for (int x = 0; x < 12; ++x)
            EXPECT_TRUE(sameColumn(length - 12 + x, track.width() - 12 + x)) << x;
        for (int x : {30, length / 2, length - 13})
            EXPECT_TRUE(sameColumn(x, track.width() / 2)) << x;
    }
}

TEST(SeekSlider, ConvertsBothWaysAtTheEndsAndTheMiddle) {
    struct Case {
        int minimum, maximum, position, centre, positionAtCentre;
    };
    // Travel 171 - 20 - 4 - 4 = 143 pixels, centres from 14 to 157.
    const Case cases[] = {
        {0, 1000, 0, 14, 0},         {0, 1000, 1000, 157, 1000},
        {0, 1000, 500, 85, 496},  // 71.5 -> 71; 71 / 143 * 1000 = 496.5 -> 496
        {-100, 100, -100, 14, -100}, {-100, 100, 100, 157, 100},
        {-100, 100, 0, 85, 0},  // -0.7 truncates toward zero, not down to -1
        {50, 50, 50, 14, 50},   // empty range: left end, minimum
    };
    for (const Case& c : cases) {
        Fixture f(c.minimum, c.maximum);
        EXPECT_EQ(f.slider->thumbCentre(c.position), c.centre) << c.minimum << ".." << c.maximum;
        EXPECT_EQ(f.slider->positionAt(c.centre), c.positionAtCentre) << c.centre;
    }
}

TEST(SeekSlider, DragStaysInsideTheTrackAndPostsOnlyAfterwards) {
    Fixture f;
    f.slider->set_position(500);
    const int centre = f.slider->thumbCentre(500);
    f.pen(QEvent::MouseButtonPress, centre + 3);  // caught 3 pixels right of the centre
    EXPECT_EQ(f.slider->position(), 500);
    f.pen(QEvent::MouseMove, -60);
    EXPECT_EQ(f.slider->thumbCentre(f.slider->position()), 14);
    EXPECT_TRUE(f.parent.notices.empty()) << "notices are posted, not sent";
    EXPECT_EQ(f.parent.delivered(), (std::vector<Notice>{{kChanging, 0}}));
    f.pen(QEvent::MouseMove, 400);
    EXPECT_EQ(f.slider->thumbCentre(f.slider->position()), 157);
    f.pen(QEvent::MouseMove, 401);  // the thumb cannot move further: no notice
    f.pen(QEvent::MouseButtonRelease, 401);
    EXPECT_FALSE(f.slider->isDragging());
    EXPECT_EQ(f.parent.delivered(), (std::vector<Notice>{{kChanging, 1000}, {kChanged, 1000}}));
}

TEST(SeekSlider, TapAwayFromTheThumbMovesItUnderThePen) {
    Fixture f;
    f.pen(QEvent::MouseButtonPress, 100);
    const int expected = f.slider->positionAt(100);
    EXPECT_EQ(f.slider->position(), expected);
    EXPECT_EQ(f.parent.delivered(), (std::vector<Notice>{{kChanging, expected}}));
    f.pen(QEvent::MouseButtonRelease, 100);
    EXPECT_EQ(f.parent.delivered(), (std::vector<Notice>{{kChanged, expected}}));
}

TEST(SeekSlider, KeysStepClampAndAlwaysPostChanged) {
    const std::pair<int, int> cases[] = {
        {Qt::Key_Left, 29},  {Qt::Key_Up, 29},        {Qt::Key_Right, 31}, {Qt::Key_Down, 31},
        {Qt::Key_PageUp, 0}, {Qt::Key_PageDown, 130}, {Qt::Key_Home, 0},   {Qt::Key_End, 200},
    };
    for (const auto& [key, expected] : cases) {
        Fixture f(0, 200);
        f.slider->set_position(30);
        f.key(key);
        EXPECT_EQ(f.slider->position(), expected) << key;
        EXPECT_EQ(f.parent.delivered(), (std::vector<Notice>{{kChanged, expected}})) << key;
    }
    // Tab and Escape keep their meaning in the dialog.
    Fixture f(0, 200);
    f.key(Qt::Key_Escape);
    f.key(Qt::Key_Tab);
    EXPECT_EQ(f.slider->position(), 0);
    EXPECT_TRUE(f.parent.delivered().empty());
}

TEST(SeekSlider, SetRangeKeepsThePositionUntilTheNextSet) {
    Fixture f(0, 200);
    f.slider->set_position(150);
    f.slider->set_range(0, 100, true);
    EXPECT_EQ(f.slider->position(), 150);
    f.slider->set_position(150);
    EXPECT_EQ(f.slider->position(), 100);
    f.slider->set_position(-5);
    EXPECT_EQ(f.slider->position(), 0);
}

TEST(SeekSlider, EmptyRangeKeepsTheMinimumUnderPenAndKeys) {
    Fixture f(50, 50);
    f.pen(QEvent::MouseButtonPress, 120);
    f.pen(QEvent::MouseMove, 160);
    f.pen(QEvent::MouseButtonRelease, 160);
    f.key(Qt::Key_PageDown);
    EXPECT_EQ(f.slider->position(), 50);
    for (const Notice& notice : f.parent.delivered())
        EXPECT_EQ(notice.position, 50);
}

TEST(SeekSlider, ScreenReadersSeeASliderWithItsValues) {
    Fixture f(0, 200);
    f.slider->set_position(30);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(f.slider);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::Slider);
    QAccessibleValueInterface* value = accessible->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->minimumValue().toInt(), 0);
    EXPECT_EQ(value->maximumValue().toInt(), 200);
    EXPECT_EQ(value->currentValue().toInt(), 30);
    value->setCurrentValue(500);
    EXPECT_EQ(f.parent.delivered(), (std::vector<Notice>{{kChanged, 200}}));

    auto* label = new CTransparentStatic2(&f.parent);
    label->setText(QStringLiteral("0:00"));
    QAccessibleInterface* text = QAccessible::queryAccessibleInterface(label);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->role(), QAccessible::StaticText);
    EXPECT_EQ(text->text(QAccessible::Name), QStringLiteral("0:00"));
}

TEST(TransparentStatic, PaintsTheStripRowsItStandsOn) {
    const QPixmap strip = load_pixmap(QStringLiteral(":/images/player_strip.png"), 1.0);
    const QImage rows = strip.toImage();
    ASSERT_EQ(rows.height(), 47);
    // A label on the strip, one reaching below its bottom row, one above its top.
    struct Case {
        int top, labelRow, stripRow;
    };
    const Case cases[] = {{200 - 47 + 16, 0, 16},
                          {200 - 47 + 16, 19, 35},
                          {200 - 7, 3, 43},
                          {200 - 7, 15, 46},
                          {100, 5, 0}};
    for (const Case& c : cases) {
        QWidget parent;
        parent.resize(300, 200);
        auto* label = new CTransparentStatic2(&parent);
        label->setGeometry(10, c.top, 40, 20);
        label->set_background(strip);
        EXPECT_EQ(label->grab().toImage().pixel(39, c.labelRow), rows.pixel(0, c.stripRow))
            << c.top << " " << c.labelRow;
    }
}
