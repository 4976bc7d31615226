// The headless container: sites one control without any window system on
// the container core, and adds what tests and kevra-host need of it, an
// output line for every effect a user would see (kevra-host's contract,
// docs/host.md) and a record of every call the control makes of it.
//
// The core delivers notifications the way a window system would (see
// container/container_core.h): a change of the outer size made inside a
// handler is answered with a resize notification after the handler has
// returned, and a message box is followed, once the command that led to it
// has returned, by one paint notification marked as the box's repaint.
// Message boxes are answered OK at once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "container/container_core.h"
#include "container/user_actions.h"

namespace kevra {

class HeadlessSite : public ContainerCore {
  public:
    using LineSink = std::function<void(const std::string&)>;

    explicit HeadlessSite(LineSink sink);

    // Called when a command has returned: delivers the repaints that boxes
    // shown during it are owed.
    void AfterCommand() { DeliverOwed(); }

    // The lines a host prints for what happens around the control: the
    // control raised StartTask; a user action or a command was refused.
    void StartTaskRaised(int32_t id, const std::string& url, const std::string& parms);
    void Refused(const Refusal& refusal);

    // Every call the control made of the container, in order, one entry a
    // call ("SetVisible sslistTaskList true", "MsgBox critical ok TITLE
    // PROMPT"): the record tests assert busy states, boxes and visibility
    // against. Kept from construction on; a host that runs for long and
    // reads none of it turns it off (which also clears it).
    const std::vector<std::string>& Calls() const { return calls_; }
    void ClearCalls() { calls_.clear(); }
    void RecordCalls(bool record);

  protected:
    void EnabledSet(bool enabled) override;
    void WidthSet(float twips) override;
    void HeightSet(float twips) override;
    void VisibleSet(Child child, bool visible) override;
    void Moved(Child child, float left, float top) override;
    void LabelCaptionSet(const std::string& caption) override;
    void LabelRefreshed() override;
    void PointerSet(int pointer) override;
    void Yield() override;
    int ShowBox(const std::string& prompt, MsgBoxIcon icon, MsgBoxButtons buttons,
                const std::string& title) override;

  private:
    LineSink sink_;
    bool record_ = true;
    std::vector<std::string> calls_;
};

}  // namespace kevra
