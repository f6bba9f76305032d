// The chassis backend through the flat C interface: the engine reaches a
// chassis only through KORVAX.h and its Linux extensions.
#include <array>
#include <cstdlib>
#include <optional>

#include "KORVAX.h"
#include "korvax/extensions.h"
#include "library_backend.h"

namespace korvax::switching {
namespace {

class LibraryBackend final : public Backend {
public:
    LibraryBackend(uint32_t handle, const ChassisGeometry &g) : handle_(handle), geometry_(g) {}

    ChassisGeometry geometry() const override { return geometry_; }

    std::vector<uint32_t> storedState() override {
        const int32_t words = KORVAX_GetStoredState(handle_, 0, nullptr, 0);
        if (words <= 0) return {};
        std::vector<uint32_t> state(static_cast<size_t>(words), 0);
        if (KORVAX_GetStoredState(handle_, 0, state.data(), words) < 0) return {};
        return state;
    }

    int32_t send(std::span<const uint32_t> state) override {
        // An RQ521 switches only under remote control; KORVAX_Init would take
        // it there too, but would also open every relay.
        if (!remoteChecked_) {
            uint32_t mode = 1;
            const int32_t st = KORVAX_GetControlMode(handle_, &mode);
            if (st == 0 && mode == 0) {
                const int32_t set = KORVAX_SetControlMode(handle_, 1);
                if (set < 0) return set;
            } else if (st < 0 && st != KORVAX_ERR_NOT_SUPPORTED) {
                return st;
            }
            remoteChecked_ = true;
        }
        return KORVAX_OpMatrix(handle_, 0, state.data(), static_cast<int32_t>(state.size()));
    }

private:
    uint32_t handle_;
    ChassisGeometry geometry_;
    bool remoteChecked_ = false;
};

// Restricts discovery to the topology's resources for as long as it lives,
// unless the user restricted it already.
class DiscoveryRestriction {
public:
    explicit DiscoveryRestriction(const std::vector<std::string> &resources) {
        if (const char *old = std::getenv(kVariable); old != nullptr) {
            old_ = old;
            return;
        }
        std::string only;
        for (const auto &r : resources) only += (only.empty() ? "" : ";") + r;
        setenv(kVariable, only.c_str(), 1);
        set_ = true;
    }
    ~DiscoveryRestriction() {
        if (set_) unsetenv(kVariable);
    }
    DiscoveryRestriction(const DiscoveryRestriction &) = delete;
    DiscoveryRestriction &operator=(const DiscoveryRestriction &) = delete;

private:
    static constexpr const char *kVariable = "KORVAX_VISA_ONLY";
    std::optional<std::string> old_;
    bool set_ = false;
};

class LibraryOpener final : public ChassisOpener {
public:
    std::vector<std::unique_ptr<Backend>> open(const std::vector<std::string> &resources) override {
        const DiscoveryRestriction only(resources);
        std::vector<uint32_t> handles(resources.size(), 0);
        bool discovered = false;
        for (size_t i = 0; i < resources.size(); ++i) {
            int32_t st = KORVAX_Connect(resources[i].c_str(), &handles[i]);
            if (st == KORVAX_ERR_RESOURCE_ABSENT && !discovered) {
                // Connect discovers only on first use: a process that ran a
                // discovery before (and did not see this chassis then) runs
                // one more, once, for every resource of the topology.
                discovered = true;
                std::array<RsrcEntry, KORVAX_MAX_CHASSIS> entries{};
                uint32_t count = 0;
                check(KORVAX_FindRsrc(entries.data(), &count), "discovery for " + resources[i]);
                i = static_cast<size_t>(-1);  // handles of before the discovery are gone
                continue;
            }
            check(st, "connect " + resources[i]);
        }
        std::vector<std::unique_ptr<Backend>> out;
        for (size_t i = 0; i < resources.size(); ++i) {
            int64_t opened = 0;
            check(KORVAX_OpenSpecifiedCard(handles[i], 0, &opened), "identify the cards of " + resources[i]);
            KORVAX_Geometry g{};
            check(KORVAX_GetGeometry(handles[i], 0, &g), "geometry of " + resources[i]);
            ChassisGeometry cg;
            cg.model = g.model;
            cg.rows = g.rows;
            cg.switchableRows = g.switchableRows;
            cg.positions = g.positions;
            cg.cardColumns = g.cardColumns;
            cg.cardsFitted = g.cardsFitted;
            cg.stateWords = g.stateWords;
            cg.closureLimit = g.closureLimit;
            if (cg.cardsFitted == 0) throw Error(ErrorKind::Chassis, resources[i] + ": no matrix card is fitted",
                                                 KORVAX_ERR_NO_TYPE0_CARD);
            out.push_back(std::make_unique<LibraryBackend>(handles[i], cg));
        }
        return out;
    }
};

}  // namespace

std::string statusText(int32_t code) {
    std::array<char, 256> message{};
    if (KORVAX_ErrorCodeToMessage(code, message.data(), message.size()) != 0) message[0] = '\0';
    std::string text = message.data();
    const std::string name = KORVAX_ErrorName(code);
    text += " (" + std::to_string(code) + (name.empty() ? "" : " " + name) + ")";
    return text;
}

void check(int32_t status, const std::string &what) {
    if (status < 0) throw Error(ErrorKind::Chassis, what + ": " + statusText(status), status);
}

std::shared_ptr<ChassisOpener> libraryOpener() { return std::make_shared<LibraryOpener>(); }

}  // namespace korvax::switching
