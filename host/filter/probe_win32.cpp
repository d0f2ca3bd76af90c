// The probe on Windows: the plug-in's reports are read at its imports of
// OutputDebugStringW and MessageBoxW, exactly as UTF-16, and every box is
// answered by a hook on this thread: No, or Yes with KELO_MESSAGEBOX=yes, as
// the Linux stand-in answers.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/files/utf8_path.h"
#include "host/filter/filter_plugin.h"
#include "host/filter/probe.h"
#include "host/filter/report_capture.h"

namespace {

std::string Utf8(const std::wstring& text) { return Utf8String(std::filesystem::path(text)); }

// The reports that arrived since the last call: the debug output as one item
// per line (a write that ends in a line feed ends the item; a report's last
// write does), then the boxes.
class ReportRecord {
public:
    explicit ReportRecord(const ReportCapture& capture) : capture_(capture) {}

    std::string TakeNew() {
        std::string text;
        const auto& writes = capture_.DebugWrites();
        for (; writes_ < writes.size(); ++writes_) {
            pending_ += writes[writes_];
            if (!pending_.empty() && pending_.back() == L'\n') {
                text += "debug\t" + EscapeField(Utf8(pending_)) + "\n";
                pending_.clear();
            }
        }
        const auto& boxes = capture_.Boxes();
        for (; boxes_ < boxes.size(); ++boxes_) {
            const CapturedBox& box = boxes[boxes_];
            char flags[16];
            std::snprintf(flags, sizeof flags, "0x%08X", box.flags);
            text += "box\t" + EscapeField(Utf8(box.caption)) + "\t" + flags + "\t" +
                    (box.shown ? "shown" : "not-shown") + "\t" + std::to_string(box.answer) + "\t" +
                    EscapeField(Utf8(box.text)) + "\n";
        }
        return text;
    }

    // A last write that never ended its line.
    std::string TakeUnfinished() {
        std::string text = TakeNew();
        if (!pending_.empty()) text += "debug\t" + EscapeField(Utf8(pending_)) + "\n";
        pending_.clear();
        return text;
    }

private:
    const ReportCapture& capture_;
    size_t writes_ = 0, boxes_ = 0;
    std::wstring pending_;
};

int BoxAnswer() {
    const char* policy = std::getenv("KELO_MESSAGEBOX");
    return policy != nullptr && std::strcmp(policy, "yes") == 0 ? IDYES : IDNO;
}

}  // namespace

std::string RunProbe(const PluginLibrary& library, const FilterSettings& settings, int pitch) {
    ReportCapture capture(BoxAnswer());
    if (!capture.Attach(static_cast<HMODULE>(library.module()))) {
        throw PluginError(
            "the plug-in does not import both OutputDebugStringW and MessageBoxW: its reports cannot be read");
    }
    ReportRecord reports(capture);
    RunningFilter filter(library.descriptor(), settings);
    std::string record = "init\t" + std::to_string(filter.Init() ? 1 : 0) + "\n";
    record += reports.TakeNew();

    YcFrame frame = ProbeFrame(kProbeWidth, kProbeHeight, pitch);
    const YcFrame before = frame;
    YcFrame temp;
    temp.Resize(kProbeWidth, kProbeHeight, pitch);
    const bool processed = filter.Process(frame, temp, 0, 1);
    record += FormatProcRecord(processed, CompareFrames(before, frame));
    record += reports.TakeNew();

    for (int i = 0; i < 2; ++i) {
        record += "exit\t" + std::to_string(filter.Exit() ? 1 : 0) + "\n";
        record += reports.TakeNew();
    }
    return record + reports.TakeUnfinished();
}

void Probe(const PluginLibrary& library, const FilterSettings& settings, int maxWidth) {
    std::fputs(RunProbe(library, settings, maxWidth ? maxWidth : kProbeRowLength).c_str(), stdout);
}
