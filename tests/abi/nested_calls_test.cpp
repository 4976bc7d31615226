// A host that calls the library back from inside one of its callbacks: the
// container notifications it causes there wait until the control's own
// call has returned, as they do in the Qt container, so that the control
// never runs its layout or paint in the middle of a load or a launch.
#include <vector>

#include "abi_test_util.h"

namespace kevra::abi::test {
namespace {

struct ReenteringHost {
    kevra_control* control = nullptr;
    std::vector<std::string> log;
    KEVRA_HRESULT resize_result = 1, paint_result = 1;

    kevra_site_callbacks Callbacks() {
        kevra_site_callbacks cb{};
        cb.struct_size = sizeof cb;
        cb.enabled_changed = [](void* u, int e) {
            Self(u)->log.push_back("enabled " + std::to_string(e));
        };
        cb.size_changed = [](void* u, double w, double h) {
            Self(u)->log.push_back("size " + std::to_string(int(w)) + " " + std::to_string(int(h)));
        };
        cb.mouse_pointer = [](void* u, int p) {
            Self(u)->log.push_back("pointer " + std::to_string(p));
        };
        // The user drags the window's edge and it is exposed while the
        // control yields.
        cb.do_events = [](void* u) {
            ReenteringHost* host = Self(u);
            host->log.push_back("yield");
            if (!host->control) return;
            host->resize_result = kevra_control_resize(host->control, 4000, 3000);
            host->paint_result = kevra_control_paint(host->control);
            host->log.push_back("yield done");
        };
        return cb;
    }
    static ReenteringHost* Self(void* u) { return static_cast<ReenteringHost*>(u); }
};

class NestedCallTest : public ScratchTest {
  protected:
    void TearDown() override {
        if (host_.control) kevra_control_release(host_.control);
    }
    ReenteringHost host_;
};

TEST_F(NestedCallTest, AResizeFromInsideACallbackIsDeliveredWhenTheLoadHasReturned) {
    const kevra_site_callbacks cb = host_.Callbacks();
    kevra_control* control = nullptr;
    ASSERT_EQ(kevra_control_create(&cb, &host_, (root_ / "settings").c_str(), &control), KEVRA_S_OK)
        << kevra_last_error();
    ASSERT_EQ(kevra_control_put_MachineName(control, WriteCatalogue().c_str()), KEVRA_S_OK);
    host_.control = control;
    host_.log.clear();

    ASSERT_EQ(kevra_control_LoadData(control), KEVRA_S_OK) << kevra_last_error();
    EXPECT_EQ(host_.resize_result, KEVRA_S_OK);
    EXPECT_EQ(host_.paint_result, KEVRA_S_OK);
    // The layout pass that answers the host's size runs after the load:
    // the host hears the control take its own size back only then.
    EXPECT_EQ(host_.log, (std::vector<std::string>{"pointer 11", "enabled 0", "yield", "yield done",
                                                   "enabled 1", "pointer 0", "size 4000 5295",
                                                   "size 11070 5295"}));
    double width = 0, height = 0;
    ASSERT_EQ(kevra_control_get_size(control, &width, &height), KEVRA_S_OK);
    EXPECT_EQ(width, 11070);
    EXPECT_EQ(height, 5295);
}

}  // namespace
}  // namespace kevra::abi::test
