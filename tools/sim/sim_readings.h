#pragma once

// What the units do where their documentation says nothing: each decision has the reading that
// the window's own table changes imply (the default) and another that real units may follow
// just as well. The simulator plays either, so the window, vx418ctl and the installation file
// can be tried under each; docs/lab.md lists them.

#include <array>
#include <cstddef>
#include <string>

namespace vxsim {

enum class Decision : std::size_t {
    BackupLink,       // a Receiver added as backup: its own link kept, or set to the Transmitter
    ReplacedMain,     // the main Receiver a unicast Add replaces: its own link kept, or cleared
    MainDelete,       // the main Receiver deleted: the first backup moves up, or the backups stay
    AttachRelease,    // a Receiver attached anew: the unicast slot its link named is released,
                      // or kept
    DeleteLink,       // a Receiver deleted at a unicast Transmitter: its own link cleared, or kept
    AddressCopies,    // a unit's new address: the copies in its peers' records follow, or stay
    ModeChangeLinks,  // a Transmitter's new mode: its Receivers' own links are cleared, or kept
    MulticastBackup   // a backup request to a multicast Transmitter: its slot taken, or refused
};
inline constexpr std::size_t kDecisionCount = 8;

struct DecisionInfo {
    const char* name;         // as --reading takes it
    const char* usual;        // the default reading
    const char* alternative;  // the other one
};
inline constexpr std::array<DecisionInfo, kDecisionCount> kDecisions{{
    {"backup-link", "kept", "set"},
    {"replaced-main", "kept", "cleared"},
    {"main-delete", "move-up", "stay"},
    {"attach-release", "released", "kept"},
    {"delete-link", "cleared", "kept"},
    {"address-copies", "updated", "kept"},
    {"mode-change", "frees", "keeps-links"},
    {"multicast-backup", "taken", "refused"},
}};

class Readings {
  public:
    // Every decision on its default reading, or every one on the other.
    static Readings Usual() { return Readings(); }
    static Readings Alternative();

    bool IsAlternative(Decision d) const { return alternative_[static_cast<std::size_t>(d)]; }
    void Set(Decision d, bool alternative) {
        alternative_[static_cast<std::size_t>(d)] = alternative;
    }
    // "backup-link=set", "usual" or "alternative"; false for anything else.
    bool Parse(const std::string& text);
    // "backup-link=kept,replaced-main=kept,..."
    std::string Describe() const;

  private:
    std::array<bool, kDecisionCount> alternative_{};
};

}  // namespace vxsim
