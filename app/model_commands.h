#pragma once
// Shared steps of the Model menu commands.

// The info sound and a refusal box captioned "ERROR"; always true.
bool RefuseModelFor(const char* text);
// Refuses with "this model is not implemented for DLS data" when DLS data
// are loaded; true when refused.
bool RefuseDlsData();
// Sets the finite-element algorithm switches; -1 leaves one as it is.
void SetLammAlgorithms(int automatic, int claverie, int movingHat);

// The oil volume of the external loading cell (ml) and the stored
// zone-loading value of the zone-centrifugation models.
float& ExternalLoadingOilVolume();
float& StoredZoneLoadingValue();
