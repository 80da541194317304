#include "chiplink/ports.h"

#include <utility>

namespace morvane {
namespace {
class EmptyPortSpace final : public PortSpace {
 public:
  uint8_t In(uint16_t) override { return kFloatingBus; }
  void Out(uint16_t, uint8_t) override {}
};
EmptyPortSpace g_empty;
}  // namespace

namespace detail {
PortSpace* g_portSpace = &g_empty;
}

PortSpace* SetPortSpace(PortSpace* space) {
  PortSpace* previous = detail::g_portSpace;
  detail::g_portSpace = space ? space : &g_empty;
  return previous == &g_empty ? nullptr : previous;
}

PortSpace* CurrentPortSpace() {
  return detail::g_portSpace == &g_empty ? nullptr : detail::g_portSpace;
}

}  // namespace morvane
