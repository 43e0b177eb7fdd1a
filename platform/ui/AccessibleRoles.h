#pragma once
// Roles that assistive technology sees for our own kinds of controls.
// Qt gives a plain QFrame the role of a frame, which screen readers take for
// a top-level window, and a custom widget such as TImage no role at all.

// Registers the roles with Qt's accessibility layer: a QFrame drawn as a line
// is a separator, any other plain QFrame a grouping (a panel), and a TImage a
// graphic. Call once, after the application object exists.
void InstallAccessibleRoles();
