// What the Today item and its host say to each other.
//
// The host owns a parent widget and calls the item's entry point
// (InitializeCustomItem, looked up by name in liblybtoday.so) with an item
// record and that widget; the item is a child widget of it. After that the
// two talk in window messages, which here are Qt events: a message's number is
// the event's type (every number used lies above QEvent::User), and its two
// parameters and its answer travel in a WindowMessage. A message that expects
// an answer is sent (QCoreApplication::sendEvent); a notice is posted.
//
//   host -> item   kRefreshQuery     wParam: the TodayListItem; answer 1 to
//                                    ask for a repaint (the item's height may
//                                    have changed too), else 0
//   item -> host   kGetColor         wParam: kColorText; answer the colour as
//                                    0x00BBGGRR (0 when not handled: black)
//   item -> host   kDrawWatermark    lParam: a TodayDrawWatermarkInfo; the host
//                                    paints its background into the rectangle
//   item -> host   kTookSelection    posted; wParam: the item widget
//   item -> host   kCountIn          posted when a count came in and changed
//                                    the item's text; wParam: the item widget.
//                                    The host may follow as for a query
//                                    answered 1; a host that does not waits
//                                    for its next query
//   item widget    "newestCaller"    a dynamic property, set before the text
//                                    changes: the caller of the newest new
//                                    voicemail as the list names it; empty
//                                    when there is none or nobody is named
//
// The shell-ready event (named_event.h) tells the item whether the host is up.
#pragma once

#include <QEvent>
#include <QRect>

#include <cstdint>

#include "platform/desktop/desktop.h"

class QPainter;
class QWidget;

namespace lyb::today {

constexpr uint32_t kGetColor = desktop::WM_USER + 100;
constexpr uint32_t kDrawWatermark = desktop::WM_USER + 101;
constexpr uint32_t kTookSelection = desktop::WM_USER + 102;
constexpr uint32_t kCountIn = desktop::WM_USER + 103;
constexpr uint32_t kRefreshQuery = desktop::WM_USER + 243;
// The item widget's property that names the newest new voicemail's caller.
inline constexpr const char* kNewestCallerProperty = "newestCaller";
// The colour index of the Today screen's text colour.
constexpr quint64 kColorText = 0x10000004;

// The name of the event the host sets once it is up (named_event.h).
inline constexpr const char* kShellReadyEvent = "SYSTEM/ShellAPIReady";
// The entry point's name in the library.
inline constexpr const char* kEntryPointName = "InitializeCustomItem";

// One window message as an event; result is the answer a sent one gives.
class WindowMessage : public QEvent {
public:
    WindowMessage(uint32_t message, quint64 w, qint64 l)
        : QEvent(static_cast<QEvent::Type>(message)), wParam(w), lParam(l) {}
    uint32_t message() const { return static_cast<uint32_t>(type()); }
    quint64 wParam;
    qint64 lParam;
    qint64 result = 0;
};

// The host's record of one item. itemHeight is 0 until the item's first
// refresh query sets it; the host lays the item out that high.
struct TodayListItem {
    int itemHeight = 0;
    QWidget* itemWindow = nullptr;  // set by the host from the entry point's answer
};

// What the watermark request passes: the painter the item paints with (its
// device is the item widget), the rectangle in item coordinates, the item.
struct TodayDrawWatermarkInfo {
    QPainter* painter = nullptr;
    QRect rect;
    QWidget* item = nullptr;
};

// The entry point: creates the item widget as a child of parent (not null)
// and starts its first count; the record is not read. Returns the widget, owned by parent.
using InitializeCustomItemFn = QWidget* (*)(TodayListItem* item, QWidget* parent);

}  // namespace lyb::today
