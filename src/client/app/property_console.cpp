#include "client/app/property_console.h"

#include "client/connections/client_context.h"
#include "client/connections/property_request.h"
#include "client/connections/server_params.h"
#include "platform/line_input.h"
#include "protocol/packet.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/eventfd.h>

namespace brindle {

namespace {

// A typed slider value has no scroll request behind it; it is what the
// end of a drag sends (TB_THUMBPOSITION).
constexpr int32_t TB_THUMBPOSITION = 4;

bool IsPage(const ReplicaControl& c) {
    return c.nKind == REPLICA_KIND_OTHER && c.cClass == "#32770" && !c.fDialog;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string Join(const std::vector<std::string>& words, size_t nFirst, size_t nEnd) {
    std::string text;
    for (size_t i = nFirst; i < nEnd && i < words.size(); ++i)
        text += (text.empty() ? "" : " ") + words[i];
    return text;
}

bool ParseInt(const std::string& text, int32_t& value) {
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (*end != 0 || errno != 0 || v < INT32_MIN || v > INT32_MAX)
        return false;
    value = static_cast<int32_t>(v);
    return true;
}

std::string Item(const ReplicaControl& c) {
    return c.nValue >= 0 && size_t(c.nValue) < c.items.size() ? Quoted(c.items[size_t(c.nValue)])
                                                              : std::string("none");
}

} // namespace

PropertyConsole::PropertyConsole(ClientContext& ctx, FILE* out, FILE* err, const Clock& clock)
    : ctx_(ctx), out_(out), err_(err), replica_(*this, clock),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void PropertyConsole::Print(const std::string& line) {
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

void PropertyConsole::Error(const std::string& line) {
    std::fprintf(err_, "BrindleView: %s\n", line.c_str());
    std::fflush(err_);
}

// --- connection threads ---

void PropertyConsole::Packet(ServerParams& psp, std::span<const uint8_t> packet) {
    if (packet.size() < PACKET_HEADER_SIZE)
        return;
    Queue(Event{&psp, {packet.begin() + PACKET_HEADER_SIZE, packet.end()}});
}

void PropertyConsole::ServerGone(ServerParams& psp) {
    Queue(Event{&psp, {}, true});
}

void PropertyConsole::Queue(Event event) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        events_.push_back(std::move(event));
    }
    uint64_t one = 1;
    ssize_t r = ::write(wake_.Get(), &one, sizeof one);
    (void)r;
}

// --- the loop ---

void PropertyConsole::Run() {
    uint64_t count = 0;
    ssize_t r = ::read(wake_.Get(), &count, sizeof count);
    (void)r;
    std::deque<Event> events;
    {
        std::lock_guard<std::mutex> guard(lock_);
        events.swap(events_);
    }
    for (const Event& event : events) {
        if (!event.fGone) {
            replica_.Packet(event.psp, event.payload);
        } else if (replica_.IsOpen() && replica_.Server() == event.psp) {
            Print("property link to " + event.psp->cAddress + " went down");
            replica_.ServerGone(event.psp);
        }
    }
    replica_.Tick();
}

int PropertyConsole::TimeoutMs(int nMaxMs) const {
    std::optional<uint32_t> due = replica_.NextDue();
    if (!due || *due >= static_cast<uint32_t>(nMaxMs))
        return nMaxMs;
    return static_cast<int>(*due);
}

bool PropertyConsole::Command(const std::string& line) {
    std::vector<std::string> words;
    if (!SplitCommandWords(line, words) || words.empty() || words[0] != "property")
        return false;
    const std::string verb = words.size() > 1 ? words[1] : std::string();
    if (verb == "open") {
        Open(words);
    } else if (verb == "close" && words.size() == 2) {
        if (!replica_.IsOpen()) {
            Error("property close: no dialog is open");
            return true;
        }
        replica_.Close();
        psp_ = nullptr;
        Print("property closed");
    } else if (verb == "click" || verb == "select" || verb == "tab" || verb == "slider") {
        Operate(words);
    } else {
        Error("unknown property command (open CAMERA, click LABEL, select LABEL ENTRY, tab "
              "LABEL, slider LABEL VALUE, close): " +
              line);
    }
    return true;
}

// "property open N": camera N (from 1) of the first server.
void PropertyConsole::Open(const std::vector<std::string>& words) {
    int32_t nCamera = 0;
    if (words.size() != 3 || !ParseInt(words[2], nCamera) || nCamera < 1) {
        Error("property open takes a camera number from 1: property open 1");
        return;
    }
    ServerParams* psp = nullptr;
    {
        std::lock_guard<std::mutex> guard(ctx_.lock);
        if (ctx_.servers.empty()) {
            Error("property open: no server");
            return;
        }
        psp = ctx_.servers.front().get();
        if (size_t(nCamera) > psp->cameras.size()) {
            Error("property open: " + psp->cAddress + " has no camera " + std::to_string(nCamera) +
                  " (yet)");
            return;
        }
        if (psp->nPropertyRequest.load() != 0) {
            Error("property open: the previous property request has not gone out yet");
            return;
        }
        psp->propertyRequest = PropertyRequestFields{};
        psp->nPropertyRequest.store(nCamera);
    }
    psp_ = psp;
    replica_.Open(psp, psp->IsStorageLinked());
    Print("property opening camera " + std::to_string(nCamera) + " of " + psp->cAddress);
}

void PropertyConsole::Operate(const std::vector<std::string>& words) {
    const std::string& verb = words[1];
    if (!replica_.IsOpen() || replica_.Description().controls.empty()) {
        Error("property " + verb + ": no dialog is open");
        return;
    }
    // Lists and sliders take a value after the label; the label may have
    // blanks in it.
    bool fValue = verb == "select" || verb == "slider";
    if (words.size() < (fValue ? 4u : 3u)) {
        Error("property " + verb + " needs " + (fValue ? "a label and a value" : "a label"));
        return;
    }
    std::string label = Join(words, 2, fValue ? words.size() - 1 : words.size());
    uint8_t nKind = verb == "click"    ? REPLICA_KIND_BUTTON
                    : verb == "select" ? REPLICA_KIND_COMBO
                    : verb == "tab"    ? REPLICA_KIND_TAB
                                       : REPLICA_KIND_SLIDER;
    size_t nIndex = FindControl(nKind, label);
    if (nIndex == SIZE_MAX) {
        Error("property " + verb + ": no such control: " + label);
        return;
    }
    const ReplicaControl& c = *replica_.Control(nIndex);
    if ((c.nStyle & REPLICA_WS_DISABLED) != 0) {
        Error("property " + verb + ": " + label + " is disabled");
        return;
    }
    int32_t nValue = 0;
    if (verb == "click") {
        replica_.UserClick(nIndex);
    } else if (verb == "tab") {
        for (size_t i = 0; i < c.items.size(); ++i)
            if (c.items[i] == label)
                replica_.UserTab(nIndex, static_cast<int32_t>(i));
    } else if (verb == "select") {
        const std::string& entry = words.back();
        nValue = -1;
        for (size_t i = 0; i < c.items.size() && nValue < 0; ++i)
            if (c.items[i] == entry)
                nValue = static_cast<int32_t>(i);
        if (nValue < 0 &&
            (!ParseInt(entry, nValue) || nValue < 0 || size_t(nValue) >= c.items.size())) {
            Error("property select: " + label + " has no entry " + entry);
            return;
        }
        replica_.UserSelect(nIndex, nValue);
    } else {
        if (!ParseInt(words.back(), nValue)) {
            Error("property slider: not a number: " + words.back());
            return;
        }
        if (nValue == c.nValue) {
            Print("property slider " + Quoted(label) + " is at " + words.back() + " already");
            return;
        }
        replica_.UserSlider(nIndex, nValue, TB_THUMBPOSITION);
    }
    Print("property " + verb + " " + Quoted(label) + (fValue ? " " + words.back() : "") +
          " queued");
}

size_t PropertyConsole::FindControl(uint8_t nKind, const std::string& label) const {
    const ReplicaDescription& d = replica_.Description();
    for (size_t i = 0; i < d.controls.size(); ++i) {
        const ReplicaControl& c = d.controls[i];
        if (c.nKind != nKind)
            continue;
        if (nKind == REPLICA_KIND_TAB) {
            for (const std::string& item : c.items)
                if (item == label)
                    return i;
        } else if (ReplicaLabel(d, i) == label) {
            return i;
        }
    }
    return SIZE_MAX;
}

// One line for a control; empty for the windows that only decorate.
std::string PropertyConsole::Describe(size_t nIndex) const {
    const ReplicaDescription& d = replica_.Description();
    const ReplicaControl& c = d.controls[nIndex];
    std::string line;
    std::string label = Quoted(ReplicaLabel(d, nIndex));
    switch (c.nKind) {
    case REPLICA_KIND_BUTTON:
        // Check-box styles: BS_CHECKBOX, BS_AUTOCHECKBOX, BS_3STATE, BS_AUTO3STATE.
        if ((c.nStyle & 0xF) >= 2 && (c.nStyle & 0xF) <= 6)
            line = "check " + label + (c.nValue != 0 ? " on" : " off");
        else
            line = "button " + label;
        break;
    case REPLICA_KIND_COMBO:
        line = "list " + label + " entries";
        for (const std::string& item : c.items)
            line += " " + Quoted(item);
        line += " selected " + Item(c);
        break;
    case REPLICA_KIND_EDIT:
        line = "field " + label + " " + Quoted(c.cText);
        break;
    case REPLICA_KIND_TAB:
        line = "tabs";
        for (const std::string& item : c.items)
            line += " " + Quoted(item);
        line += " selected " + Item(c);
        break;
    case REPLICA_KIND_SLIDER:
        line = "slider " + label + " " + std::to_string(c.nMinimum) + ".." +
               std::to_string(c.nMaximum) + " at " + std::to_string(c.nValue);
        break;
    default:
        if (!IsPage(c))
            return {};
        line = "page " + label + ((c.nStyle & REPLICA_WS_VISIBLE) != 0 ? " shown" : " hidden");
        break;
    }
    if ((c.nStyle & REPLICA_WS_DISABLED) != 0)
        line += " disabled";
    return line;
}

// --- what the replica shows ---

bool PropertyConsole::RequestSlotFree(const void* server) {
    return server == psp_ && psp_ != nullptr && psp_->nPropertyRequest.load() == 0;
}

void PropertyConsole::PostRequest(const void* server, int32_t nCamera, int32_t nKind,
                                  int32_t nControlKind, uint32_t hWindow, int32_t nCode,
                                  int32_t nValue, const std::string& cText) {
    if (server != psp_ || psp_ == nullptr)
        return;
    if (!PostPropertyRequest(ctx_, *psp_, nCamera, nKind, nControlKind, hWindow, nCode, nValue,
                             cText))
        Error("property: " + psp_->cAddress + " no longer lists camera " + std::to_string(nCamera));
}

void PropertyConsole::Build() {
    const ReplicaDescription& d = replica_.Description();
    if (d.controls.empty()) {
        Print("property dialog empty");
        return;
    }
    Print("property dialog " + Quoted(d.controls.front().cText) + " camera " +
          std::to_string(d.nCamera));
    for (size_t i = 0; i < d.controls.size(); ++i) {
        if (std::string line = Describe(i); !line.empty())
            Print("property " + line);
    }
    Print("property end");
}

void PropertyConsole::ControlChanged(size_t nIndex) {
    if (nIndex >= replica_.Description().controls.size())
        return;
    if (std::string line = Describe(nIndex); !line.empty())
        Print("property update " + line);
}

void PropertyConsole::CloseDialog() {
    psp_ = nullptr;
    Print("property closed");
}

void PropertyConsole::ShowBusy(bool fShow) {
    Print(fShow ? "property busy" : "property ready");
}

void PropertyConsole::Refused(const std::string& reason) {
    Error("property: the server's description was refused: " + reason);
}

} // namespace brindle
