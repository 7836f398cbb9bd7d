#include "fit/hetero_association_record.h"

HeteroAssociationState& CurrentHeteroAssociationState() {
  static HeteroAssociationState state;
  return state;
}
