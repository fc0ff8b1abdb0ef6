#pragma once

// What both screenshot programs do around their own step: the demo lab, the window on its
// adapter after a Refresh, then the program's step, then the picture. Needs root (the lab) and a
// display.

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "lab_fixture.h"
#include "net/adapter_state.h"
#include "net/posix/pcap_backend.h"
#include "ops_lab_support.h"

// arrange brings the window to what the picture shows; it returns why it could not, or nothing.
inline int ScreenshotMain(int argc, char** argv, const char* program,
                          const std::function<std::string(CVX418Dlg&)>& arrange) {
    const auto fail = [&](const std::string& why) {
        std::fprintf(stderr, "%s: %s\n", program, why.c_str());
        return EXIT_FAILURE;
    };
    if (argc != 2) {
        return fail("usage: " + std::string(program) + " OUTPUT.png");
    }
    QApplication app(argc, argv);
    if (const std::string why = vxlab::LabUnavailableReason(); !why.empty()) {
        return fail(why);
    }
    std::string error;
    auto lab = vxlab::Lab::Create(error);
    if (!lab || !lab->StartSim({}, error)) {
        return fail(error);
    }
    const auto inStation = lab->EnterStation(error);
    if (!inStation) {
        return fail(error);
    }
    SetCaptureBackend(std::make_shared<PcapCaptureBackend>());
    const std::unique_ptr<CVX418Dlg> dialog = opslab::OpenOnLab();
    if (!dialog) {
        return fail("Set Adapter on the lab link did not succeed");
    }
    if (!opslab::PressRefresh(*dialog)) {
        return fail("Refresh did not finish");
    }
    if (const std::string why = arrange(*dialog); !why.empty()) {
        return fail(why);
    }
    return adaptertest::SaveWindowPicture(*dialog, dialog->m_ConnectionsTree, argv[1])
               ? EXIT_SUCCESS
               : fail("cannot write the picture");
}
