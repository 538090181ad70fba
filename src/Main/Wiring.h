// Composition helpers: the consumers of the response dispatcher, the timer
// handlers and the list of buttons with their click handlers, so that the
// window (or a test) wires everything the same way.
#pragma once

#include <QString>
#include <functional>
#include <vector>

namespace bms {

// Runs a handler and shows any error it raises through the general error
// handler (App.ui->showError with the formatted message); the program goes on.
void RunGuarded(const std::function<void()>& handler);

class BlockFreshness;

// Fills the dispatcher's hooks (decoders, displays, data-log row,
// information re-read, upgrade steps), the upgrade run's "stop sampling"
// and the port source of the port list. With `freshness` (the window's), the
// outcome of every read goes to it and the grid greys what it calls stale.
void WireHooks(BlockFreshness* freshness = nullptr);

// Points tmr1..tmr4 at their handlers (sampling poll, reply time-out,
// status-bar clock, upgrade watchdog), each inside RunGuarded.
void WireTimers();

// A button and the handler of its click (no arguments needed).
struct ClickHandler {
    QString control;
    std::function<void()> handler;
};
// Every click handler of the window's logic except the toggle `opencom`
// (which needs the port component) and the selectors that react to a change
// of text (cbb_addr, cbb_pdType) or to a mouse press (shp_sp_reset).
const std::vector<ClickHandler>& ClickHandlers();

} // namespace bms
