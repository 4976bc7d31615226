// A host that keeps one control for the whole working day calls it hundreds
// of thousands of times: every resize, load and launch must leave the heap
// where it found it. These tests drive an instance on the host's callbacks
// and one on the headless site through the same long day and compare the
// heap in use (mallinfo2) after a first round with the heap after all of it.
// They run in a process of their own so that nothing else allocates
// between the two readings.
#include <malloc.h>

#include <cstdio>

#include "abi_test_util.h"

#if defined(__SANITIZE_ADDRESS__)
#define KEVRA_HEAP_MEASURABLE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KEVRA_HEAP_MEASURABLE 0
#endif
#endif
#ifndef KEVRA_HEAP_MEASURABLE
#define KEVRA_HEAP_MEASURABLE 1
#endif

namespace kevra::abi::test {
namespace {

#if KEVRA_HEAP_MEASURABLE
constexpr size_t kSlack = 64 * 1024;

size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

long long Growth(size_t before, size_t after) {
    return static_cast<long long>(after) - static_cast<long long>(before);
}
#endif

// A host that hears everything and keeps nothing: a real host draws what it
// is told and forgets it.
struct ForgetfulHost {
    size_t heard = 0;
    int launches = 0;

    kevra_site_callbacks Callbacks() {
        kevra_site_callbacks cb{};
        cb.struct_size = sizeof cb;
        cb.enabled_changed = [](void* u, int) { ++Self(u)->heard; };
        cb.size_changed = [](void* u, double, double) { ++Self(u)->heard; };
        cb.child_changed = [](void* u, int, const kevra_frame*) { ++Self(u)->heard; };
        // Negative: the library measures the caption itself.
        cb.label_caption_changed = [](void* u, const char*) {
            ++Self(u)->heard;
            return -1.0;
        };
        cb.mouse_pointer = [](void* u, int) { ++Self(u)->heard; };
        cb.do_events = [](void* u) { ++Self(u)->heard; };
        cb.message_box = [](void* u, const char*, int, int, const char*) {
            ++Self(u)->heard;
            return 1;
        };
        return cb;
    }
    static void Line(void* u, const char*) { ++Self(u)->heard; }
    static void Started(void* u, int, const char*, const char*) { ++Self(u)->launches; }
    static ForgetfulHost* Self(void* u) { return static_cast<ForgetfulHost*>(u); }
};

class HeapTest : public ScratchTest {
  protected:
    void TearDown() override {
        if (control_) kevra_control_release(control_);
    }

    void Prepare() {
        ASSERT_EQ(kevra_control_on_StartTask(control_, ForgetfulHost::Started, &host_), KEVRA_S_OK);
        // Each launch would be a durable file write (synced) in the default
        // store: ten thousand of them measure the disk, not the heap.
        ASSERT_EQ(kevra_control_set_history_store(control_, KEVRA_HISTORY_MEMORY, nullptr),
                  KEVRA_S_OK);
        ASSERT_EQ(kevra_control_put_MachineName(control_, WriteCatalogue().c_str()), KEVRA_S_OK);
    }

    // One day's work in the given amounts. Sizes alternate so that every
    // resize is a real change the layout pass answers.
    void Work(int resizes, int loads, int launches) {
        for (int i = 0; i < resizes; ++i)
            ASSERT_EQ(kevra_control_resize(control_, 9000 + (i % 2) * 3000, 6000), KEVRA_S_OK);
        for (int i = 0; i < loads; ++i) ASSERT_EQ(kevra_control_LoadData(control_), KEVRA_S_OK);
        for (int i = 0; i < launches; ++i) {
            ASSERT_EQ(kevra_control_open_group(control_, "X1"), KEVRA_S_OK) << kevra_last_error();
            ASSERT_EQ(kevra_control_click_item(control_, "X2"), KEVRA_S_OK) << kevra_last_error();
            ASSERT_EQ(kevra_control_select_node(control_, "X3"), KEVRA_S_OK) << kevra_last_error();
            ASSERT_EQ(kevra_control_dblclick(control_), KEVRA_S_OK) << kevra_last_error();
        }
    }

    // The first round settles every cache and buffer that is meant to stay;
    // the long day after it must not add to them.
    void ExpectFlatHeap() {
        Prepare();
        Work(100, 10, 10);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_GT(host_.heard, 0u) << "the host hears what happens; the library keeps none of it";
#if KEVRA_HEAP_MEASURABLE
        const size_t after_first_round = HeapInUse();
        Work(100000, 0, 0);
        const size_t after_resizes = HeapInUse();
        Work(0, 10000, 0);
        const size_t after_loads = HeapInUse();
        Work(0, 0, 10000);
        ASSERT_FALSE(HasFatalFailure());
        const size_t after_the_day = HeapInUse();
        EXPECT_EQ(host_.launches, 10010);
        std::printf(
            "heap growth: 100000 resizes %lld bytes, 10000 loads %lld, 10000 launches %lld\n",
            Growth(after_first_round, after_resizes), Growth(after_resizes, after_loads),
            Growth(after_loads, after_the_day));
        const long long growth = Growth(after_first_round, after_the_day);
        EXPECT_LE(growth, static_cast<long long>(kSlack))
            << "the heap grew by " << growth << " bytes over 100000 resizes, 10000 loads and "
            << "10000 launches";
#else
        // A tenth of the day is enough for the sanitizer to see every path.
        Work(10000, 1000, 1000);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(host_.launches, 1010);
        GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine and pads every "
                        "allocation, so mallinfo2 does not show what the program holds; the "
                        "work ran under the sanitizer's checks, the heap was not measured";
#endif
    }

    ForgetfulHost host_;
    kevra_control* control_ = nullptr;
};

TEST_F(HeapTest, ACallbackSitedInstanceKeepsNothingOfWhatItReported) {
    const kevra_site_callbacks cb = host_.Callbacks();
    ASSERT_EQ(kevra_control_create(&cb, &host_, (root_ / "settings").c_str(), &control_),
              KEVRA_S_OK)
        << kevra_last_error();
    ExpectFlatHeap();
}

TEST_F(HeapTest, AHeadlessInstanceHandsItsLinesToTheCallbackAndKeepsNone) {
    ASSERT_EQ(kevra_control_create_headless(ForgetfulHost::Line, &host_,
                                            (root_ / "settings").c_str(), &control_),
              KEVRA_S_OK)
        << kevra_last_error();
    ExpectFlatHeap();
}

}  // namespace
}  // namespace kevra::abi::test
