// Kestrin1.dll, the interface library of the Kestrin 3D mouse: everything a
// client program includes. Link the import library Kestrin1.dll.a.
#pragma once

#include "kestrin1_api.h"
#include "kestrin_connection.h"
#include "spatial_math.h"
#include "clarity.h"
#include "agility.h"
#include "kestrin_flat_data.h"
