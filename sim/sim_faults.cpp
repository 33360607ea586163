#include "sim_faults.h"

#include <algorithm>
#include <charconv>

namespace {

enum class TApplies { apReads, apWrites, apAll };

struct TFaultName {
    std::string_view Name;
    TSimFaultKind Kind;
    TApplies Applies;
    std::chrono::milliseconds Default_Pause; // 0: the fault takes no pause
};

constexpr TFaultName fault_names[] = {
    {"drop-ack", TSimFaultKind::fkDropAck, TApplies::apWrites, std::chrono::milliseconds(0)},
    // Well above the receiver's 10 ms of silence, so it judges the first part alone.
    {"split-ack", TSimFaultKind::fkSplitAck, TApplies::apWrites, std::chrono::milliseconds(50)},
    {"corrupt", TSimFaultKind::fkCorrupt, TApplies::apReads, std::chrono::milliseconds(0)},
    {"spaces", TSimFaultKind::fkSpaces, TApplies::apReads, std::chrono::milliseconds(0)},
    {"crlf", TSimFaultKind::fkCrLf, TApplies::apReads, std::chrono::milliseconds(0)},
    {"noise", TSimFaultKind::fkNoise, TApplies::apReads, std::chrono::milliseconds(0)},
    {"delay", TSimFaultKind::fkDelay, TApplies::apAll, std::chrono::milliseconds(1000)},
    {"silent", TSimFaultKind::fkSilent, TApplies::apAll, std::chrono::milliseconds(0)},
    {"hangup", TSimFaultKind::fkHangUp, TApplies::apAll, std::chrono::milliseconds(0)},
};

const TFaultName* find_by_kind(TSimFaultKind Kind) {
    auto it = std::find_if(std::begin(fault_names), std::end(fault_names),
                           [&](const TFaultName& n) { return n.Kind == Kind; });
    return it == std::end(fault_names) ? nullptr : it;
}

template <typename T> std::optional<T> whole_number(std::string_view Text) {
    T value{};
    auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
    if (Text.empty() || error != std::errc() || end != Text.data() + Text.size()) return std::nullopt;
    return value;
}

std::optional<double> fraction(std::string_view Text) {
    double value = 0;
    auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
    if (Text.empty() || error != std::errc() || end != Text.data() + Text.size()) return std::nullopt;
    return value;
}

// Uniform in [0, 1) from the top 53 bits, the same on every standard library.
double draw(std::mt19937_64& Random) {
    return static_cast<double>(Random() >> 11) * 0x1.0p-53;
}

} // namespace

std::optional<TSimFault> Parse_Fault(std::string_view Text, std::string& Error) {
    auto at = Text.find('@');
    if (at == std::string_view::npos) {
        Error = "expected KIND[=MS]@WHEN";
        return std::nullopt;
    }
    std::string_view kind = Text.substr(0, at);
    std::string_view when = Text.substr(at + 1);
    std::optional<std::string_view> pause;
    if (auto equals = kind.find('='); equals != std::string_view::npos) {
        pause = kind.substr(equals + 1);
        kind = kind.substr(0, equals);
    }

    auto name = std::find_if(std::begin(fault_names), std::end(fault_names),
                             [&](const TFaultName& n) { return n.Name == kind; });
    if (name == std::end(fault_names)) {
        Error = "unknown fault '" + std::string(kind) + "'";
        return std::nullopt;
    }
    TSimFault fault;
    fault.Kind = name->Kind;
    fault.Pause = name->Default_Pause;
    if (pause) {
        if (name->Default_Pause.count() == 0) {
            Error = "fault '" + std::string(kind) + "' takes no time";
            return std::nullopt;
        }
        auto ms = whole_number<std::uint32_t>(*pause);
        if (!ms) {
            Error = "bad time '" + std::string(*pause) + "'";
            return std::nullopt;
        }
        fault.Pause = std::chrono::milliseconds(*ms);
    }

    constexpr std::string_view random_prefix = "random:";
    if (when.starts_with(random_prefix)) {
        auto p = fraction(when.substr(random_prefix.size()));
        if (!p || !(*p > 0 && *p <= 1)) {
            Error = "bad chance '" + std::string(when.substr(random_prefix.size())) + "', want 0 < P <= 1";
            return std::nullopt;
        }
        fault.Probability = *p;
        return fault;
    }
    auto dash = when.find('-');
    auto first = whole_number<std::uint32_t>(when.substr(0, dash));
    std::optional<std::uint32_t> last = first;
    if (dash != std::string_view::npos)
        last =
            dash + 1 == when.size() ? TSimFault::No_End : whole_number<std::uint32_t>(when.substr(dash + 1));
    if (!first || !last || *first == 0 || *last < *first) {
        Error = "bad frames '" + std::string(when) + "', want N, N-M, N- or random:P";
        return std::nullopt;
    }
    fault.First = *first;
    fault.Last = *last;
    return fault;
}

TSimFaultPicker::TSimFaultPicker(const TSimFaultPlan& Plan) : FFaults(Plan.Faults), FRandom(Plan.Seed) {}

TSimFaultHits TSimFaultPicker::Pick(bool Write, std::uint32_t Kind_Number, std::uint32_t Frame_Number) {
    TSimFaultHits hits;
    for (const TSimFault& fault : FFaults) {
        const TFaultName* name = find_by_kind(fault.Kind);
        if (!name || (name->Applies == TApplies::apReads && Write) ||
            (name->Applies == TApplies::apWrites && !Write))
            continue;
        std::uint32_t number = name->Applies == TApplies::apAll ? Frame_Number : Kind_Number;
        bool hit = fault.Probability > 0 ? draw(FRandom) < fault.Probability
                                         : number >= fault.First && number <= fault.Last;
        if (!hit) continue;
        ++hits.Count;
        switch (fault.Kind) {
        case TSimFaultKind::fkDropAck:
            hits.Drop_Ack = true;
            break;
        case TSimFaultKind::fkSplitAck:
            hits.Split_Ack = true;
            hits.Split_Pause = std::max(hits.Split_Pause, fault.Pause);
            break;
        case TSimFaultKind::fkCorrupt:
            hits.Corrupt = true;
            break;
        case TSimFaultKind::fkSpaces:
            hits.Spaces = true;
            break;
        case TSimFaultKind::fkCrLf:
            hits.CrLf = true;
            break;
        case TSimFaultKind::fkNoise:
            hits.Noise = true;
            break;
        case TSimFaultKind::fkDelay:
            hits.Delay += fault.Pause;
            break;
        case TSimFaultKind::fkSilent:
            hits.Silent = true;
            break;
        case TSimFaultKind::fkHangUp:
            hits.Hang_Up = true;
            break;
        }
    }
    return hits;
}
