#include "app/window/road_services.h"

#include "app/window/txla_window.h"

RoadServices& Road() {
  static RoadServices services;
  return services;
}

bool CallOrNotAvailable(TXLAWindow& window, const std::function<void()>& service) {
  if (!service) {
    window.NotAvailableYet();
    return false;
  }
  service();
  return true;
}
