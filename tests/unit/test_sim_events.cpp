// Events, timers and the scripted keyboard on the simulated firmware's virtual clock.
#include <gtest/gtest.h>

#include <stdexcept>

#include "cpu/cpu.h"
#include "sim.h"
#include "uefi/guids.h"

using namespace tarn;

namespace {

efi::BootServices* bs(sim::SimFirmware& fw) { return fw.system_table()->boot_services; }

int g_notified = 0;
void EFIAPI count_notify(efi::Event, void* context) {
    g_notified++;
    if (context) (*static_cast<int*>(context))++;
}

efi::Event timer(sim::SimFirmware& fw, uint32_t extra = 0, efi::EventNotify fn = nullptr,
                 void* ctx = nullptr) {
    efi::Event e = nullptr;
    EXPECT_EQ(bs(fw)->create_event(efi::kEvtTimer | extra, efi::kTplCallback, fn, ctx, &e),
              efi::kSuccess);
    return e;
}

TEST(SimEvents, RelativeTimerWaitAdvancesTheClockExactly) {
    sim::SimFirmware fw;
    efi::Event t = timer(fw);
    ASSERT_EQ(bs(fw)->set_timer(t, efi::kTimerRelative, 2500 * 10), efi::kSuccess);  // 2.5 ms
    uint64_t index = 99;
    ASSERT_EQ(bs(fw)->wait_for_event(1, &t, &index), efi::kSuccess);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(fw.now_us(), 2500u);
    // Fired once: not signaled any more after the wait consumed it.
    EXPECT_EQ(bs(fw)->check_event(t), efi::kNotReady);
    bs(fw)->close_event(t);
}

TEST(SimEvents, TimeStampCounterFollowsTheClock) {
    sim::SimFirmware fw;
    uint64_t a = read_timestamp_counter();
    bs(fw)->stall(1000);
    uint64_t b = read_timestamp_counter();
    EXPECT_EQ(b - a, 1000 * sim::SimFirmware::kTicksPerUs);
}

TEST(SimEvents, WaitReturnsTheFirstEventToFire) {
    sim::SimFirmware fw;
    efi::Event slow = timer(fw), fast = timer(fw);
    bs(fw)->set_timer(slow, efi::kTimerRelative, 50000000);  // 5 s
    bs(fw)->set_timer(fast, efi::kTimerRelative, 10000000);  // 1 s
    efi::Event both[2] = {slow, fast};
    uint64_t index = 9;
    ASSERT_EQ(bs(fw)->wait_for_event(2, both, &index), efi::kSuccess);
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(fw.now_us(), 1000000u);
    ASSERT_EQ(bs(fw)->wait_for_event(2, both, &index), efi::kSuccess);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(fw.now_us(), 5000000u);
    bs(fw)->close_event(slow);
    bs(fw)->close_event(fast);
}

TEST(SimEvents, PeriodicNotifyRunsOncePerPeriod) {
    sim::SimFirmware fw;
    int count = 0;
    efi::Event t = timer(fw, efi::kEvtNotifySignal, count_notify, &count);
    ASSERT_EQ(bs(fw)->set_timer(t, efi::kTimerPeriodic, 100000 * 10), efi::kSuccess);  // 100 ms
    bs(fw)->stall(1000000);
    EXPECT_EQ(count, 10);
    bs(fw)->stall(50000);
    EXPECT_EQ(count, 10);
    bs(fw)->stall(50000);
    EXPECT_EQ(count, 11);
    // A signal-type event cannot be checked or waited on.
    EXPECT_EQ(bs(fw)->check_event(t), efi::kInvalidParameter);
    uint64_t index;
    EXPECT_EQ(bs(fw)->wait_for_event(1, &t, &index), efi::kInvalidParameter);
    bs(fw)->set_timer(t, efi::kTimerCancel, 0);
    bs(fw)->stall(1000000);
    EXPECT_EQ(count, 11);
    bs(fw)->close_event(t);
}

TEST(SimEvents, PeriodicWaitEventStaysSignaledOnce) {
    sim::SimFirmware fw;
    efi::Event t = timer(fw);
    bs(fw)->set_timer(t, efi::kTimerPeriodic, 10000);  // 1 ms
    bs(fw)->stall(100000);
    EXPECT_EQ(bs(fw)->check_event(t), efi::kSuccess);
    EXPECT_EQ(bs(fw)->check_event(t), efi::kNotReady);
    uint64_t index;
    ASSERT_EQ(bs(fw)->wait_for_event(1, &t, &index), efi::kSuccess);
    EXPECT_EQ(fw.now_us(), 101000u);
    bs(fw)->close_event(t);
}

TEST(SimEvents, InvalidUses) {
    sim::SimFirmware fw;
    efi::Event plain = nullptr;
    ASSERT_EQ(bs(fw)->create_event(0, efi::kTplApplication, nullptr, nullptr, &plain), efi::kSuccess);
    EXPECT_EQ(bs(fw)->set_timer(plain, efi::kTimerRelative, 10), efi::kInvalidParameter);
    EXPECT_EQ(bs(fw)->check_event(plain), efi::kNotReady);
    EXPECT_EQ(bs(fw)->signal_event(plain), efi::kSuccess);
    EXPECT_EQ(bs(fw)->check_event(plain), efi::kSuccess);
    EXPECT_EQ(bs(fw)->close_event(plain), efi::kSuccess);
    EXPECT_EQ(bs(fw)->close_event(plain), efi::kInvalidParameter);
    EXPECT_EQ(bs(fw)->check_event(plain), efi::kInvalidParameter);
    efi::Event e;
    EXPECT_EQ(bs(fw)->create_event(efi::kEvtNotifyWait | efi::kEvtNotifySignal, efi::kTplCallback,
                                   count_notify, nullptr, &e),
              efi::kInvalidParameter);
    EXPECT_EQ(bs(fw)->create_event(efi::kEvtNotifySignal, efi::kTplCallback, nullptr, nullptr, &e),
              efi::kInvalidParameter);
    uint64_t index;
    EXPECT_EQ(bs(fw)->wait_for_event(0, &e, &index), efi::kInvalidParameter);
}

TEST(SimEvents, WaitThatCanNeverFinishEndsTheRun) {
    sim::SimFirmware fw;
    efi::Event plain = nullptr;
    bs(fw)->create_event(0, efi::kTplApplication, nullptr, nullptr, &plain);
    bool after = false;
    auto r = fw.run([&] {
        uint64_t index;
        bs(fw)->wait_for_event(1, &plain, &index);
        after = true;
    });
    EXPECT_FALSE(after);
    EXPECT_TRUE(r.stuck);
    EXPECT_FALSE(r.exited);
    EXPECT_EQ(r.status, efi::kAborted);
    EXPECT_NE(r.message.find("wait forever"), std::string::npos);
    // Outside a run the test itself fails with an exception instead of hanging.
    uint64_t index;
    EXPECT_THROW(bs(fw)->wait_for_event(1, &plain, &index), std::runtime_error);
    bs(fw)->close_event(plain);
}

TEST(SimEvents, WaitForKeyWithNoKeysLeftEndsTheRun) {
    sim::SimFirmware fw;
    auto* in = fw.system_table()->con_in;
    fw.push_text("a");
    int reads = 0;
    auto r = fw.run([&] {
        for (;;) {
            uint64_t index;
            bs(fw)->wait_for_event(1, &in->wait_for_key, &index);
            efi::InputKey key;
            if (in->read_key_stroke(in, &key) == efi::kSuccess) reads++;
        }
    });
    EXPECT_TRUE(r.stuck);
    EXPECT_EQ(reads, 1);
}

TEST(SimEvents, EventGroupsSignalTogether) {
    sim::SimFirmware fw;
    static const efi::Guid group = {0x1234, 5, 6, {7, 8, 9, 10, 11, 12, 13, 14}};
    int a = 0, b = 0;
    efi::Event ea, eb;
    ASSERT_EQ(bs(fw)->create_event_ex(efi::kEvtNotifySignal, efi::kTplCallback, count_notify, &a,
                                      &group, &ea),
              efi::kSuccess);
    ASSERT_EQ(bs(fw)->create_event_ex(efi::kEvtNotifySignal, efi::kTplCallback, count_notify, &b,
                                      &group, &eb),
              efi::kSuccess);
    bs(fw)->signal_event(ea);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 1);
    bs(fw)->close_event(ea);
    bs(fw)->close_event(eb);
}

// ---------------------------------------------------------------- keys

TEST(SimKeys, DelayedKeyArrivesWhenTheClockReachesIt) {
    sim::SimFirmware fw;
    auto* in = fw.system_table()->con_in;
    fw.push_key(u'a', 0, 0, 3000);
    fw.push_key(u'b', 0, 0, 2000);  // 2 ms after the first one
    efi::InputKey key;
    EXPECT_EQ(in->read_key_stroke(in, &key), efi::kNotReady);
    uint64_t index;
    ASSERT_EQ(bs(fw)->wait_for_event(1, &in->wait_for_key, &index), efi::kSuccess);
    EXPECT_EQ(fw.now_us(), 3000u);
    ASSERT_EQ(in->read_key_stroke(in, &key), efi::kSuccess);
    EXPECT_EQ(key.unicode_char, u'a');
    EXPECT_EQ(in->read_key_stroke(in, &key), efi::kNotReady);
    ASSERT_EQ(bs(fw)->wait_for_event(1, &in->wait_for_key, &index), efi::kSuccess);
    EXPECT_EQ(fw.now_us(), 5000u);
    ASSERT_EQ(in->read_key_stroke(in, &key), efi::kSuccess);
    EXPECT_EQ(key.unicode_char, u'b');
    EXPECT_EQ(fw.pending_keys(), 0u);
}

TEST(SimKeys, TimerBeforeKeyWins) {
    sim::SimFirmware fw;
    auto* in = fw.system_table()->con_in;
    fw.push_key(u'k', 0, 0, 5000000);
    efi::Event t = timer(fw);
    bs(fw)->set_timer(t, efi::kTimerRelative, 10000000);  // 1 s
    efi::Event both[2] = {in->wait_for_key, t};
    uint64_t index;
    ASSERT_EQ(bs(fw)->wait_for_event(2, both, &index), efi::kSuccess);
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(fw.now_us(), 1000000u);
    ASSERT_EQ(bs(fw)->wait_for_event(2, both, &index), efi::kSuccess);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(fw.now_us(), 5000000u);
    bs(fw)->close_event(t);
}

TEST(SimKeys, KeysTypedDuringAStallAreWaiting) {
    sim::SimFirmware fw;
    auto* in = fw.system_table()->con_in;
    fw.push_text("xy", 100);
    bs(fw)->stall(1000);
    efi::InputKey key;
    ASSERT_EQ(in->read_key_stroke(in, &key), efi::kSuccess);
    EXPECT_EQ(key.unicode_char, u'x');
    ASSERT_EQ(in->read_key_stroke(in, &key), efi::kSuccess);
    EXPECT_EQ(key.unicode_char, u'y');
    EXPECT_EQ(fw.now_us(), 1000u);
}

TEST(SimKeys, PushTextMapsEnterAndEscape) {
    sim::SimFirmware fw;
    auto* in = fw.system_table()->con_in;
    fw.push_text("\x1b\n\xc3\xa9");
    efi::InputKey key;
    ASSERT_EQ(in->read_key_stroke(in, &key), efi::kSuccess);
    EXPECT_EQ(key.scan_code, efi::kScanEsc);
    EXPECT_EQ(key.unicode_char, 0);
    ASSERT_EQ(in->read_key_stroke(in, &key), efi::kSuccess);
    EXPECT_EQ(key.unicode_char, u'\r');
    ASSERT_EQ(in->read_key_stroke(in, &key), efi::kSuccess);
    EXPECT_EQ(key.unicode_char, u'\u00e9');
}

efi::SimpleTextInputEx* input_ex(sim::SimFirmware& fw) {
    void* p = nullptr;
    if (bs(fw)->handle_protocol(fw.system_table()->console_in_handle,
                                &efi::kSimpleTextInputExProtocolGuid, &p) != efi::kSuccess)
        return nullptr;
    return static_cast<efi::SimpleTextInputEx*>(p);
}

int g_key_notifies = 0;
efi::Status EFIAPI on_key(efi::KeyData*) {
    g_key_notifies++;
    return efi::kSuccess;
}
int g_ctrl_notifies = 0;
efi::Status EFIAPI on_ctrl_key(efi::KeyData*) {
    g_ctrl_notifies++;
    return efi::kSuccess;
}

TEST(SimKeys, ExtendedReadReportsAValidShiftState) {
    sim::SimFirmware fw;
    auto* ex = input_ex(fw);
    ASSERT_NE(ex, nullptr);
    fw.push_key(u'a');
    fw.push_key(u'b', 0, efi::kLeftControlPressed);
    efi::KeyData k;
    ASSERT_EQ(ex->read_key_stroke_ex(ex, &k), efi::kSuccess);
    EXPECT_EQ(k.key.unicode_char, u'a');
    EXPECT_EQ(k.key_state.key_shift_state, efi::kShiftStateValid);
    ASSERT_EQ(ex->read_key_stroke_ex(ex, &k), efi::kSuccess);
    EXPECT_EQ(k.key_state.key_shift_state, efi::kShiftStateValid | efi::kLeftControlPressed);
    EXPECT_EQ(ex->read_key_stroke_ex(ex, &k), efi::kNotReady);
}

TEST(SimKeys, KeyNotifyFiresWhenAMatchingKeyArrives) {
    sim::SimFirmware fw;
    auto* ex = input_ex(fw);
    ASSERT_NE(ex, nullptr);
    g_key_notifies = g_ctrl_notifies = 0;
    efi::KeyData any_shift{};
    any_shift.key.unicode_char = 3;
    efi::KeyData with_ctrl{};
    with_ctrl.key.unicode_char = u'c';
    with_ctrl.key_state.key_shift_state = efi::kShiftStateValid | efi::kLeftControlPressed;
    void *h1 = nullptr, *h2 = nullptr;
    ASSERT_EQ(ex->register_key_notify(ex, &any_shift, on_key, &h1), efi::kSuccess);
    ASSERT_EQ(ex->register_key_notify(ex, &with_ctrl, on_ctrl_key, &h2), efi::kSuccess);
    EXPECT_EQ(fw.key_notify_count(), 2u);

    fw.push_key(3, 0, 0, 1000);  // Ctrl-C as the serial terminal delivers it
    fw.push_key(u'c');           // plain c: neither
    EXPECT_EQ(g_key_notifies, 0);  // not typed yet
    fw.advance_us(1000);
    EXPECT_EQ(g_key_notifies, 1);
    EXPECT_EQ(g_ctrl_notifies, 0);
    EXPECT_EQ(fw.pending_keys(), 2u);  // notification does not consume the key

    ASSERT_EQ(ex->unregister_key_notify(ex, h1), efi::kSuccess);
    EXPECT_EQ(ex->unregister_key_notify(ex, h1), efi::kInvalidParameter);
    fw.push_key(3);
    EXPECT_EQ(g_key_notifies, 1);
    ex->unregister_key_notify(ex, h2);
    EXPECT_EQ(fw.key_notify_count(), 0u);
}

TEST(SimKeys, ExtendedInputCanBeAbsent) {
    sim::SimFirmware fw;
    fw.set_extended_input(false);
    EXPECT_EQ(input_ex(fw), nullptr);
    fw.set_extended_input(true);
    EXPECT_NE(input_ex(fw), nullptr);
}

TEST(SimKeys, ResetKeepsKeysUnlessAskedToFlush) {
    sim::SimFirmware fw;
    auto* in = fw.system_table()->con_in;
    fw.push_text("ab");
    fw.push_key(u'c', 0, 0, 1000);
    in->reset(in, 0);
    EXPECT_EQ(fw.pending_keys(), 3u);
    fw.set_input_reset_flushes(true);
    in->reset(in, 0);
    EXPECT_EQ(fw.pending_keys(), 1u);  // the key not yet typed stays
}

}  // namespace

namespace {

TEST(SimKeys, LiveKeySourceFeedsWaitsAndEndsWhenExhausted) {
    sim::SimFirmware fw;
    using R = sim::SimFirmware::KeySourceResult;
    auto* in = fw.system_table()->con_in;
    std::vector<uint64_t> budgets;
    int calls = 0;
    fw.set_key_source([&](uint64_t max_wait_us) {
        budgets.push_back(max_wait_us);
        calls++;
        if (max_wait_us == 0) return R::kTimeout;  // polls see nothing
        if (calls <= 3) {
            fw.push_key(u'q');
            return R::kKeys;
        }
        return R::kEnd;
    });
    efi::Event t = timer(fw);
    bs(fw)->set_timer(t, efi::kTimerRelative, 20000);  // 2 ms
    efi::Event both[2] = {in->wait_for_key, t};
    uint64_t index = 9;
    ASSERT_EQ(bs(fw)->wait_for_event(2, both, &index), efi::kSuccess);
    EXPECT_EQ(index, 0u);
    ASSERT_FALSE(budgets.empty());
    EXPECT_EQ(budgets.back(), 2000u);  // told how long until the timer
    efi::InputKey key;
    ASSERT_EQ(in->read_key_stroke(in, &key), efi::kSuccess);
    EXPECT_EQ(key.unicode_char, u'q');
    bs(fw)->close_event(t);
    auto r = fw.run([&] {
        for (;;) {
            bs(fw)->wait_for_event(1, &in->wait_for_key, &index);
            in->read_key_stroke(in, &key);
        }
    });
    EXPECT_TRUE(r.stuck);  // the source ended and nothing else can wake the wait
    EXPECT_EQ(budgets.back(), UINT64_MAX);
}

TEST(SimKeys, LiveKeySourceTimeoutLetsTheTimerFire) {
    sim::SimFirmware fw;
    using R = sim::SimFirmware::KeySourceResult;
    fw.set_key_source([](uint64_t) { return R::kTimeout; });
    efi::Event t = timer(fw);
    bs(fw)->set_timer(t, efi::kTimerRelative, 5000000);  // 0.5 s
    uint64_t index;
    ASSERT_EQ(bs(fw)->wait_for_event(1, &t, &index), efi::kSuccess);
    EXPECT_EQ(fw.now_us(), 500000u);
    bs(fw)->close_event(t);
}

}  // namespace
