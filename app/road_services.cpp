#include "app/road_services.h"

RoadServices& Road() {
  static RoadServices services;
  return services;
}
