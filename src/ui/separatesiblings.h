// Moving apart the controls of a window whose boxes overlap.
#pragma once

class QWidget;

// Moves apart the visible child controls of parent whose boxes overlap. The designs let
// neighbours share an edge pixel, and boxes grown for a taller font reach into the next row.
// A box side by side with another loses its overlap from its right edge, one above another from
// its bottom edge, as far as its caption still fits; the rest is taken from the other box's near
// edge, and what remains moves the other box right or down.
void separateSiblings(QWidget* parent);
