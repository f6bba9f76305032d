// The chassis backend through the flat C interface: the engine reaches a
// chassis only through KORVAX.h and its Linux extensions. Every chassis the
// engine holds in the process is known here, so that a discovery (which
// ends every handle of the one before) is run for all of them and attaches
// them again.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>

#include "KORVAX.h"
#include "korvax/extensions.h"
#include "library_backend.h"

namespace korvax::switching {
namespace {

class LibraryBackend;

// The process's discovery rule and the chassis it attaches again.
class Attachments {
public:
    static Attachments &instance() {
        static Attachments a;
        return a;
    }
    void add(LibraryBackend *b) {
        const std::lock_guard lock(mutex_);
        live_.push_back(b);
    }
    void remove(LibraryBackend *b) {
        const std::lock_guard lock(mutex_);
        live_.erase(std::remove(live_.begin(), live_.end(), b), live_.end());
    }
    std::vector<std::string> resources();
    void setHook(DiscoveryHook hook) {
        const std::lock_guard lock(mutex_);
        hook_ = std::move(hook);
    }
    DiscoveryHook hook() {
        const std::lock_guard lock(mutex_);
        return hook_;
    }
    void reattachAll();
    // A discovery of `wanted` and every chassis held; attaches the held ones
    // again. The program's hook runs it when there is one.
    int32_t discover(const std::vector<std::string> &wanted);

private:
    std::recursive_mutex mutex_;
    std::vector<LibraryBackend *> live_;
    DiscoveryHook hook_;
};

class LibraryBackend final : public Backend {
public:
    LibraryBackend(std::string resource, uint32_t handle, const ChassisGeometry &g)
        : resource_(std::move(resource)), handle_(handle), geometry_(g) {
        Attachments::instance().add(this);
    }
    ~LibraryBackend() override { Attachments::instance().remove(this); }
    LibraryBackend(const LibraryBackend &) = delete;
    LibraryBackend &operator=(const LibraryBackend &) = delete;

    const std::string &resource() const { return resource_; }

    ChassisGeometry geometry() const override { return geometry_; }

    std::vector<uint32_t> storedState() override {
        const std::lock_guard lock(mutex_);
        if (attach() < 0) return {};
        const int32_t words = KORVAX_GetStoredState(handle_, 0, nullptr, 0);
        if (words <= 0) return {};
        std::vector<uint32_t> state(static_cast<size_t>(words), 0);
        if (KORVAX_GetStoredState(handle_, 0, state.data(), words) < 0) return {};
        return state;
    }

    int32_t send(std::span<const uint32_t> state) override {
        const std::lock_guard lock(mutex_);
        if (const int32_t st = attach(); st < 0) return st;
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

    // After a discovery: a new handle, the cards identified again. The
    // library keeps the relay state with the resource, and the record says
    // what the chassis holds, so nothing is sent.
    void reattach() {
        const std::lock_guard lock(mutex_);
        handle_ = 0;
        remoteChecked_ = false;
        (void)attach();
    }

private:
    // 0 once the chassis has a handle; a chassis the last discovery did not
    // find is tried again at each use, for a later discovery may have.
    int32_t attach() {
        if (handle_ != 0) return 0;
        uint32_t handle = 0;
        int32_t st = KORVAX_Connect(resource_.c_str(), &handle);
        int64_t opened = 0;
        if (st >= 0) st = KORVAX_OpenSpecifiedCard(handle, 0, &opened);
        if (st < 0) return st;
        handle_ = handle;
        return 0;
    }

    std::mutex mutex_;
    std::string resource_;
    uint32_t handle_;
    ChassisGeometry geometry_;
    bool remoteChecked_ = false;
};

std::vector<std::string> Attachments::resources() {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const LibraryBackend *b : live_)
        if (std::find(out.begin(), out.end(), b->resource()) == out.end()) out.push_back(b->resource());
    return out;
}

void Attachments::reattachAll() {
    const std::lock_guard lock(mutex_);
    for (LibraryBackend *b : live_) b->reattach();
}

// Restricts discovery to `resources` for as long as it lives, unless the
// user restricted it already.
class DiscoveryRestriction {
public:
    explicit DiscoveryRestriction(const std::vector<std::string> &resources) {
        if (std::getenv(kVariable) != nullptr) return;
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
    bool set_ = false;
};

int32_t Attachments::discover(const std::vector<std::string> &wanted) {
    std::vector<std::string> names = resources();
    for (const auto &r : wanted)
        if (std::find(names.begin(), names.end(), r) == names.end()) names.push_back(r);
    const std::lock_guard lock(mutex_);
    if (const DiscoveryHook h = hook_) return h(names);
    std::array<RsrcEntry, KORVAX_MAX_CHASSIS> entries{};
    uint32_t count = 0;
    int32_t st = 0;
    {
        const DiscoveryRestriction only(names);
        st = KORVAX_FindRsrc(entries.data(), &count);
    }
    reattachAll();
    return st;
}

class LibraryOpener final : public ChassisOpener {
public:
    std::vector<std::unique_ptr<Backend>> open(const std::vector<std::string> &resources) override {
        Attachments &rule = Attachments::instance();
        // A program with chassis of its own makes them connectable itself.
        if (const DiscoveryHook hook = rule.hook())
            check(hook(resources), "discovery for the chassis of the topology");
        // Connect discovers on first use, restricted to these resources; a
        // process that discovered before (and did not see a chassis then)
        // runs the process's discovery once, for all of them.
        std::vector<uint32_t> handles(resources.size(), 0);
        bool discovered = false;
        for (size_t i = 0; i < resources.size(); ++i) {
            int32_t st = 0;
            {
                const DiscoveryRestriction only(resources);
                st = KORVAX_Connect(resources[i].c_str(), &handles[i]);
            }
            if (st == KORVAX_ERR_RESOURCE_ABSENT && !discovered) {
                discovered = true;
                check(rule.discover(resources), "discovery for " + resources[i]);
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
            out.push_back(std::make_unique<LibraryBackend>(resources[i], handles[i], cg));
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

void setDiscoveryHook(DiscoveryHook hook) { Attachments::instance().setHook(std::move(hook)); }

std::vector<std::string> heldResources() { return Attachments::instance().resources(); }

void reattach() { Attachments::instance().reattachAll(); }

}  // namespace korvax::switching
