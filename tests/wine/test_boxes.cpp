// A bring-up step that the driver refuses, as the user sees it: one message
// box from the real morvantis.dll with the exact text, the caption, an OK
// button only and no owner. Each refusal is tried with clean statuses and
// with garbage in the upper half of the driver's result register.
#include "harness.h"

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

TEST(ARefusedStepShowsOneBoxAndFails)
{
    for (const uint16_t highBits : {uint16_t{0}, uint16_t{0xABCD}}) {
        char bits[32];
        std::snprintf(bits, sizeof bits, "high bits 0x%04X", highBits);
        harness::Context statuses(bits);
        for (const Refusal& refusal : kRefusals) {
            harness::Context context(refusal.what);
            harness::WorkingDirectory directory;
            simReset();
            simSetResultHighBits(highBits);
            refusal.script();
            harness::Library library;
            CHECK(harness::captureMessageBoxes(library.module()));
            harness::capturedBoxes().clear();

            CHECK_EQ(library.get<decltype(&CAN_Init)>("CAN_Init")(), -1);
            const auto& boxes = harness::capturedBoxes();
            CHECK_EQ(boxes.size(), 1u);
            if (!boxes.empty()) {
                CHECK(boxes[0].owner == nullptr);
                CHECK_STR(boxes[0].caption, "morvantis.dll");
                CHECK_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
                CHECK_STR(boxes[0].text, refusal.text);
            }
            CHECK_EQ(simOpenPortCount(), 0); // never opened, or closed again
            library.get<decltype(&CAN_Exit)>("CAN_Exit")();
        }
    }
}

int main(int argc, char** argv)
{
    return harness::runAll(argc, argv);
}
