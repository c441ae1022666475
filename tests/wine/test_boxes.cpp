// A bring-up step that the driver refuses, as the user sees it: one message
// box from the real morvantis.dll with the exact text, the caption, an OK
// button only and no owner. Each refusal is tried with clean statuses and
// with garbage in the upper half of the driver's result register.
#include "fixture.h"

#include <gtest/gtest.h>

#include "morvantis.h"
#include "sim_control.h"

#include <cstdio>
#include <string>

namespace {

struct Refusal {
    const char* what;
    void (*script)();
    const char* text;
};

const Refusal kRefusals[] = {
    {"no channel mask", [] { simSetChannelMask(2, 0, 0, 0); }, "Could not GetChannelMask\n !"},
    {"port not opened", [] { simSetStatus(SIM_OPEN_PORT, 0xFFFF); },
     "Could not OpenPort\n Reason: unknown (code -1) !"},
    {"bitrate refused", [] { simSetStatus(SIM_SET_BITRATE, 120); },
     "Could not SetChannelBitrate\n Reason: HW_NOT_READY (code 120) !"},
    {"output refused", [] { simSetStatus(SIM_SET_OUTPUT, 101); },
     "Could not SetChannelOutput\n Reason: WRONG_PARAMETER (code 101) !"},
    {"acceptance refused", [] { simSetStatus(SIM_SET_ACCEPTANCE, 112); },
     "Could not SetChannelAcceptance\n Reason: INVALID_ACCESS (code 112) !"},
    {"mode refused", [] { simSetStatus(SIM_SET_MODE, 116); },
     "Could not SetChannelMode\n Reason: CHAN_IS_ONLINE (code 116) !"},
    {"activation refused", [] { simSetStatus(SIM_ACTIVATE, 113); },
     "Could not ActivateChannel\n Reason: PORT_IS_OFFLINE (e.g. CANCAB not connected) "
     "(code 113) !"},
    {"negative status", [] { simSetStatus(SIM_ACTIVATE, 0x8001); },
     "Could not ActivateChannel\n Reason: unknown (code -32767) !"},
};

} // namespace

TEST(MessageBoxes, ARefusedStepShowsOneBoxAndFails)
{
    for (const uint16_t highBits : {uint16_t{0}, uint16_t{0xABCD}}) {
        char bits[32];
        std::snprintf(bits, sizeof bits, "high bits 0x%04X", highBits);
        SCOPED_TRACE(bits);
        for (const Refusal& refusal : kRefusals) {
            SCOPED_TRACE(refusal.what);
            fixture::WorkingDirectory directory;
            simReset();
            simSetResultHighBits(highBits);
            refusal.script();
            fixture::Library library;
            EXPECT_TRUE(fixture::captureMessageBoxes(library.module()));
            fixture::capturedBoxes().clear();

            EXPECT_EQ(library.get<decltype(&CAN_Init)>("CAN_Init")(), -1);
            const auto& boxes = fixture::capturedBoxes();
            EXPECT_EQ(boxes.size(), 1u);
            if (!boxes.empty()) {
                EXPECT_EQ(boxes[0].owner, nullptr);
                EXPECT_EQ(boxes[0].caption, "morvantis.dll");
                EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
                EXPECT_EQ(boxes[0].text, refusal.text);
            }
            EXPECT_EQ(simOpenPortCount(), 0); // never opened, or closed again
            library.get<decltype(&CAN_Exit)>("CAN_Exit")();
        }
    }
}
