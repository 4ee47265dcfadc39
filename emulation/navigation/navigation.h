// The double-precision navigation of KestrinZel2: the routines behind the
// navigation slots of IAgilityPrivate<double> (GetDefaults, SnapOrientation,
// Step, ObjectControl, FlyCamera). Pure computation on the host's records; no
// windows.h, so it builds natively under the sanitizers too. Only Step calls
// out, through the host's INavigationHost, a plain abstract class.
//
// None of these keeps state between calls (the snap's two standard frames are
// constants built once). They take no locks: concurrent calls must not share
// records.
#pragma once

#include "kestrin_zel2_nav.h"

class INavigationHost;

namespace KestrinNav {

// The process-wide default settings record: kind 1, upAxis 1, fence 1,
// zoomAlongRay 1, twistAboutRay 1, everything else 0. GetDefaults hands out
// its address; nobody writes it.
extern const NavSettings DefaultSettings;

// Turns the rotation at bytes 56-127 of record (translation at 128-151) to
// the nearest of the 72 standard orientations, keeping the world position of
// point; writes only those 96 bytes. Returns point.
const NavVec3* SnapOrientation(const NavVec3* point, void* record);

// Moves and turns object (in parent's space; parent null = world; camera null
// = view space is world) by one step of delta about the settings' pivot.
// The delta is copied first and never written. The volume's half extents
// change only with an orthographic zoom.
void ObjectControl(NavVolume* volume, NavSettings* settings, NavXform* object,
                   const NavXform* parent, const NavMat43* camera, const NavDelta* delta);

// Flies a perspective camera by one step of delta; writes the camera, the
// pivot (x and y to 0, z when the pivot distance is clamped) and delta's ax
// and ay (scaled).
void FlyCamera(const NavVolume* volume, NavSettings* settings, NavMat43* camera,
               NavDelta* delta);

// One navigation step of the host's view: view kind 1 (pan and zoom) or 2
// (3D). Hands the new view to host->ApplyView, asks host->QuerySettings first
// (kind 2) and calls host->PivotChanged when the pivot's bits changed. The
// view is never written; motion's rotation is zeroed when the settings say
// noRotation.
void Step(INavigationHost* host, double seconds, NavMotion* motion, const NavView* view);

}  // namespace KestrinNav
