#include "record_front.h"

#include <vector>

#include "KORVAX.h"

namespace korvax::tools {
namespace {

using namespace korvax::switching;

// The chassis the command holds, as the engine drives it.
class HandleBackend final : public Backend {
public:
    HandleBackend(uint32_t handle, const KORVAX_Geometry &g) : handle_(handle) {
        geometry_.model = g.model;
        geometry_.rows = g.rows;
        geometry_.switchableRows = g.switchableRows;
        geometry_.positions = g.positions;
        geometry_.cardColumns = g.cardColumns;
        geometry_.cardsFitted = g.cardsFitted;
        geometry_.stateWords = g.stateWords;
        geometry_.closureLimit = g.closureLimit;
    }
    ChassisGeometry geometry() const override { return geometry_; }
    std::vector<uint32_t> storedState() override {
        std::vector<uint32_t> words(static_cast<size_t>(geometry_.stateWords), 0);
        if (KORVAX_GetStoredState(handle_, 0, words.data(), static_cast<int32_t>(words.size())) < 0) return {};
        return words;
    }
    int32_t send(std::span<const uint32_t> state) override {
        return KORVAX_OpMatrix(handle_, 0, state.data(), static_cast<int32_t>(state.size()));
    }

private:
    uint32_t handle_;
    ChassisGeometry geometry_;
};

class HandleOpener final : public ChassisOpener {
public:
    HandleOpener(uint32_t handle, const KORVAX_Geometry &g) : handle_(handle), geometry_(g) {}
    std::vector<std::unique_ptr<Backend>> open(const std::vector<std::string> &) override {
        std::vector<std::unique_ptr<Backend>> out;
        out.push_back(std::make_unique<HandleBackend>(handle_, geometry_));
        return out;
    }

private:
    uint32_t handle_;
    KORVAX_Geometry geometry_;
};

}  // namespace

Session recordSession(const std::string &resource, uint32_t handle, const KORVAX_Geometry &geometry, bool fresh) {
    Topology topology;
    topology.file = "the command line";
    ChassisTopology chassis;
    chassis.name = resource;
    chassis.resource = resource;
    topology.chassis.push_back(chassis);
    SessionOptions options;
    options.record = fresh ? ":memory:" : "";
    options.program = "korvax";
    options.opener = std::make_shared<HandleOpener>(handle, geometry);
    return Session(std::move(topology), std::move(options));
}

}  // namespace korvax::tools
