#pragma once
// The program's compiled-in pictures live in a static library; a program must
// register them once, before the first ":/pictures/..." is read. Calling this
// again does no harm.
//   :/pictures/gloxen48.png           window icon, 48 x 48
//   :/pictures/logo96.png             the same design, 96 x 96
//   :/pictures/eyedropper.png         pick button glyph, 21 x 21
//   :/pictures/eyedropper-cursor.png  pick cursor picture, 21 x 21, tip at (3, 16)
//   :/pictures/palette.png            colour dialog opener, 48 x 48
void InitGloxenResources();
