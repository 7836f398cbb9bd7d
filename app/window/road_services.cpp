#include "app/window/road_services.h"

RoadServices& Road() {
  static RoadServices services;
  return services;
}
