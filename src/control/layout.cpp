// The container notifications: the layout pass on resize, the first-paint
// restore and teardown.
//
// None of the three traps an error of its own for the user: a failing step
// ends the handler at that step, and the failure never reaches the container.
#include <cmath>

#include "control/ctlKevraTaskList.h"

namespace kevra {

namespace {

// A border allowance as a whole number of twips, halves to the even
// neighbour, as a 32-bit conversion does.
int32_t Allowance(double outer, double inner) {
    double r = std::nearbyint(outer - inner);
    if (!std::isfinite(r) || r < -2147483648.0 || r > 2147483647.0)
        throw RuntimeError(err::kOverflow, "Overflow: border allowance out of range");
    return static_cast<int32_t>(r);
}

}  // namespace

void ctlKevraTaskList::UserControl_Resize() {
    try {
        const int32_t horizontal = Allowance(site_.Width(), site_.ScaleWidth());
        const int32_t vertical = Allowance(site_.Height(), site_.ScaleHeight());

        const ChildFrame list = site_.Frame(Child::sslistTaskList);
        site_.SetHeight(static_cast<float>(list.height + vertical + 240.0));
        const ChildFrame tree = site_.Frame(Child::sstreeTaskList);
        site_.SetWidth(static_cast<float>(list.width + horizontal + 360.0 + tree.width));

        site_.Move(Child::sslistTaskList, 120.0f, 120.0f);
        const ChildFrame moved = site_.Frame(Child::sslistTaskList);
        site_.Move(Child::sstreeTaskList, static_cast<float>(moved.left + 120.0 + moved.width),
                   120.0f);

        const ChildFrame label = site_.Frame(Child::lblStatus);
        site_.Move(Child::lblStatus, static_cast<float>((site_.ScaleWidth() - label.width) / 2.0),
                   static_cast<float>((site_.ScaleHeight() - label.height) / 2.0));
    } catch (...) {
        // The pass ends at the failing step; the host keeps running.
    }
}

void ctlKevraTaskList::UserControl_Paint(bool after_box) {
    // The repaint that follows the restore's own report never starts the
    // restore again: a restore that fails would otherwise report, be
    // repainted, and fail again without end. The next paint of the host or
    // the user retries. The repaint of any other box is a first paint like
    // any other.
    const bool repaintOfRestoreReport = after_box && restore_reported_;
    restore_reported_ = false;
    if (repaintOfRestoreReport) return;
    try {
        if (mblnSelectionRestored == kFalse && mblnDataLoaded == kTrue) SelectTask();
    } catch (...) {
        // SelectTask reports its own failures; nothing else can fail here.
    }
}

void ctlKevraTaskList::UserControl_Terminate() {
    try {
        if (!mrsTasks) return;
        if (mrsTasks->State() == 1) mrsTasks->Close();
        mrsTasks.reset();
    } catch (...) {
        // The reference goes with the instance in any case.
    }
}

}  // namespace kevra
