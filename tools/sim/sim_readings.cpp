#include "sim_readings.h"

namespace vxsim {

Readings Readings::Alternative() {
    Readings r;
    r.alternative_.fill(true);
    return r;
}

bool Readings::Parse(const std::string& text) {
    if (text == "usual" || text == "alternative") {
        alternative_.fill(text == "alternative");
        return true;
    }
    const auto equals = text.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    const std::string name = text.substr(0, equals);
    const std::string value = text.substr(equals + 1);
    for (std::size_t i = 0; i < kDecisionCount; ++i) {
        if (name == kDecisions[i].name &&
            (value == kDecisions[i].usual || value == kDecisions[i].alternative)) {
            alternative_[i] = value == kDecisions[i].alternative;
            return true;
        }
    }
    return false;
}

std::string Readings::Describe() const {
    std::string text;
    for (std::size_t i = 0; i < kDecisionCount; ++i) {
        text += std::string(i == 0 ? "" : ",") + kDecisions[i].name + "=" +
                (alternative_[i] ? kDecisions[i].alternative : kDecisions[i].usual);
    }
    return text;
}

}  // namespace vxsim
