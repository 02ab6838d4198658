#include "convert/pointing.h"

// Filled in with the computation core.
float DecimalDegrees(int16_t, int16_t, float) { return 0.0f; }
PointingValues DerivePointingValues(const ObservationHeader&) { return PointingValues{}; }
void AzimuthFromObjectName(const std::string&, float&) {}
double PostMeridianCentre(int32_t n, float pmc) { return (n + 1.0) - pmc; }
