// The windows on real screens: a window larger than its screen scrolls with
// every control in reach, frames keep their borders at every scale, and the
// window icon has every size the desktop theme has.
#include <QAbstractScrollArea>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QtMath>

#include "editconfigform.h"
#include "ipaddressctrl.h"
#include "window_fixture.h"

namespace {

using ScreenTest = WindowTest;

// Tabs through a window's stops (bounded) and says which focused control was
// not in the scroll area's view: whole, or where it is larger than the view,
// filling at least half the view along each side it overflows.
QStringList OutOfView(CDialogBase* dlg, int tabs)
{
    QStringList out;
    QScrollArea* area = dlg->scrollArea();
    for (int i = 0; i < tabs; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* w = QApplication::focusWidget();
        if (!w || !area)
            return {QStringLiteral("no focus or no scroll area")};
        const QRect view = area->viewport()->rect();
        const QRect inView(w->mapTo(area->viewport(), QPoint(0, 0)), w->size());
        const QRect shown = view.intersected(inView);
        if (shown.width() < std::min(w->width(), view.width() / 2) ||
            shown.height() < std::min(w->height(), view.height() / 2) ||
            (w->width() <= view.width() && w->height() <= view.height() && shown != inView))
            out << w->objectName();
    }
    return out;
}

TEST_F(ScreenTest, AWindowLargerThanItsScreenScrollsAndEveryControlIsInReach)
{
    Open({});
    Activate();
    const QSize full = dlg_->size();
    struct Case {
        const char* what;
        QRect area;   // the screen's available area
        bool scrolls;
    } cases[] = {
        {"half the size", QRect(0, 0, full.width() / 2, full.height() / 2), true},
        {"too low only", QRect(100, 50, full.width() + 100, full.height() * 2 / 3), true},
        {"room enough", QRect(0, 0, full.width() + 200, full.height() + 200), false},
    };
    for (const Case& c : cases) {
        dlg_->FitToArea(c.area);
        EXPECT_EQ(dlg_->scrollArea() != nullptr, c.scrolls) << c.what;
        if (!c.scrolls) {
            EXPECT_EQ(dlg_->size(), full) << c.what;
            continue;
        }
        EXPECT_LE(dlg_->FrameSize().width(), c.area.width()) << c.what;
        EXPECT_LE(dlg_->FrameSize().height(), c.area.height()) << c.what;
        EXPECT_EQ(dlg_->minimumSize(), dlg_->maximumSize()) << c.what;   // still a fixed frame
        Button(IDC_BTN_SEEK)->setFocus();
        EXPECT_EQ(OutOfView(dlg_.get(), 6).join(QLatin1Char(' ')).toStdString(), "") << c.what;
        // Every control is where the template puts it on the scrolled page.
        EXPECT_EQ(Edit(IDC_EDT_TIMEOUT)->geometry(), DialogUnits(dlg_->font()).Rect(319, 200, 16, 12));
    }
}

// Run by the suite on two screens side by side (tests/ui/two_screens.json):
// a large one, then one smaller than the window to its right.
TEST_F(ScreenTest, AWindowDraggedToASmallerScreenScrollsThereAndShowsWholeBack)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.size() < 2)
        GTEST_SKIP() << "one screen here; ctest runs this on two (ui_two_screens)";
    Open({});
    const QSize full = dlg_->size();
    QScreen* large = screens[0];
    QScreen* small = screens[1];
    ASSERT_GE(large->availableGeometry().width(), full.width() + 100);
    ASSERT_LT(small->availableGeometry().height(), full.height());
    struct Step {
        QScreen* to;
        bool scrolls;
    } steps[] = {{small, true}, {large, false}, {small, true}};
    for (const Step& step : steps) {
        dlg_->move(step.to->availableGeometry().topLeft() + QPoint(10, 10));
        ASSERT_TRUE(QTest::qWaitFor([&] { return dlg_->screen() == step.to; }, 2000))
            << "the window did not reach " << step.to->name().toStdString();
        EXPECT_EQ(dlg_->scrollArea() != nullptr, step.scrolls) << step.to->name().toStdString();
        if (step.scrolls) {
            EXPECT_LE(dlg_->FrameSize().height(), step.to->availableGeometry().height());
        } else {
            EXPECT_EQ(dlg_->size(), full);
        }
    }
}

// Run by the suite at 100 %, 150 % and 200 % (QT_SCALE_FACTOR) on a 1024x600
// and a 1280x800 screen (tests/ui/small_screens.json): the main window and the
// Edit Config form, opened on each, take no more device pixels than the
// screen has, at a scale where its logical size is rounded up too (1024 at
// 150 % is 682.67, shown as 683).
TEST_F(ScreenTest, NoWindowIsLargerThanItsScreenAtThisScale)
{
    const struct {
        const char* name;
        QSize device;   // the screen's size in device pixels, as configured
    } table[] = {{"s1024x600", {1024, 600}}, {"s1280x800", {1280, 800}}};
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.size() != 2 || screens[0]->name() != QLatin1String(table[0].name))
        GTEST_SKIP() << "ctest runs this on two small screens (ui_fits_screens_at_*)";
    Open({});
    for (size_t i = 0; i < std::size(table); ++i) {
        QScreen* s = screens[static_cast<int>(i)];
        ASSERT_EQ(s->name(), QLatin1String(table[i].name));
        const qreal dpr = s->devicePixelRatio();
        // Device pixels of a logical size, rounded as the toolkit sizes a window.
        auto device = [dpr](QSize logical) {
            return QSize(qRound(logical.width() * dpr), qRound(logical.height() * dpr));
        };
        dlg_->move(s->availableGeometry().topLeft());
        ASSERT_TRUE(QTest::qWaitFor([&] { return dlg_->screen() == s; }, 2000)) << table[i].name;
        CEdtCfgDlg form(dlg_.get());
        form.EnsureInitialized();
        form.show();   // with the frame the window system gives it
        const struct {
            const char* what;
            CDialogBase* window;
        } windows[] = {{"main window", dlg_.get()}, {"Edit Config", &form}};
        for (const auto& w : windows) {
            const QSize shown = device(w.window->FrameSize());
            EXPECT_LE(shown.width(), table[i].device.width()) << w.what << " on " << table[i].name;
            EXPECT_LE(shown.height(), table[i].device.height()) << w.what << " on " << table[i].name;
            // Capped, it still fills the screen along a side: short of it by
            // no more than a logical pixel and its rounding.
            const int slack = qCeil(2 * dpr);
            if (w.window->scrollArea()) {
                EXPECT_TRUE(shown.width() >= table[i].device.width() - slack ||
                            shown.height() >= table[i].device.height() - slack)
                    << w.what << " on " << table[i].name << ": " << shown.width() << "x" << shown.height();
            }
        }
    }
}

// The darkest device pixel of a control's last logical pixel line along one
// edge (at the middle of that edge, or where `along` says), as painted on
// screen: where a one-pixel border falls at any scale.
int EdgeGray(QWidget* w, Qt::Edge edge, double along = 0.5)
{
    const QImage img = w->window()->grab().toImage();
    const qreal dpr = img.devicePixelRatio();
    const QRect r(w->mapTo(w->window(), QPoint(0, 0)), w->size());
    const int end = edge == Qt::RightEdge ? r.x() + r.width() : r.y() + r.height();
    int darkest = 255;
    for (int d = int(std::floor((end - 1) * dpr)); d < int(std::ceil(end * dpr)); ++d) {
        const QPoint p = edge == Qt::RightEdge ? QPoint(d, int((r.y() + r.height() * along) * dpr))
                                               : QPoint(int((r.x() + r.width() * along) * dpr), d);
        if (img.rect().contains(p))
            darkest = std::min(darkest, qGray(img.pixel(p)));
    }
    return darkest;
}

// How far the bottom edge of an address control, in its last three logical
// pixel lines, looks different under the dots than under the fields (the
// largest gray difference): 0 when the border runs clean under both.
int DotStubs(CIpAddressCtrl* ip)
{
    const QImage img = ip->window()->grab().toImage();
    const qreal dpr = img.devicePixelRatio();
    const QPoint origin = ip->mapTo(ip->window(), QPoint(0, 0));
    const int bottom = origin.y() + ip->height();
    int worst = 0;
    for (QLabel* dot : ip->findChildren<QLabel*>()) {
        const int underDot = int((origin.x() + dot->geometry().center().x()) * dpr);
        const int underField = int((origin.x() + ip->field(0)->geometry().center().x()) * dpr);
        for (int y = int(std::floor((bottom - 3) * dpr)); y < int(std::ceil(bottom * dpr)); ++y)
            if (img.rect().contains(underDot, y))
                worst = std::max(worst, std::abs(qGray(img.pixel(underDot, y)) - qGray(img.pixel(underField, y))));
    }
    return worst;
}

// Run by the suite at 100 %, 125 %, 150 % and 200 % (QT_SCALE_FACTOR).
TEST_F(ScreenTest, FramesKeepTheirBordersAtThisScale)
{
    Open({});
    dlg_->FitToArea(QRect(0, 0, 8000, 8000));   // all of it in view, whatever this screen's size
    const int background = qGray(dlg_->palette().color(QPalette::Window).rgb());
    // A border is clearly darker than the window and the white inside.
    auto border = [background](int gray) { return gray < background - 25; };
    for (int id : {IDC_LST_DEVICE, IDC_EDT_STATUS, IDC_EDT_CONFIG}) {
        QWidget* w = FindControl(dlg_.get(), id);
        EXPECT_TRUE(border(EdgeGray(w, Qt::RightEdge))) << id << " right, gray " << EdgeGray(w, Qt::RightEdge);
        EXPECT_TRUE(border(EdgeGray(w, Qt::BottomEdge))) << id << " bottom";
    }

    bool checked = false;
    onModal = [&](const SeamCall& call) {
        auto* form = qobject_cast<CEdtCfgDlg*>(call.dialog);
        if (!form)
            return IDCANCEL;
        checked = true;
        form->m_ipAddr->SetAddress(192, 168, 77, 22);
        // Under the fields and under the dots between them alike.
        for (double along : {0.15, 0.3, 0.5, 0.7, 0.9})
            EXPECT_TRUE(border(EdgeGray(form->m_ipAddr, Qt::BottomEdge, along))) << "address bottom at " << along;
        EXPECT_TRUE(border(EdgeGray(form->m_ipAddr, Qt::RightEdge))) << "address right";
        EXPECT_LE(DotStubs(form->m_ipAddr), 8) << "the border under the dots differs";
        return IDCANCEL;
    };
    CEdtCfgDlg form(dlg_.get());
    form.EnsureInitialized();
    form.FitToArea(QRect(0, 0, 8000, 8000));
    UiSeam::RunModal(&form);
    EXPECT_TRUE(checked);
}

TEST_F(ScreenTest, WindowIconHasEveryThemeSizeAndAName)
{
    Open({});
    const QIcon icon = dlg_->windowIcon();
    for (int size : {16, 32, 48, 64, 128, 256}) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
        EXPECT_EQ(icon.pixmap(QSize(size, size), 1.0).size(), QSize(size, size)) << size;
    }
    EXPECT_EQ(dlg_->windowIconText(), dlg_->windowTitle());
}

}  // namespace
