#pragma once
// The reset every model command starts with. Above both the selector's
// switches and the table of models: it unticks every model of the table.

// The common first step of every model command: undoes what the previous
// model switched on outside the record, selects the automatic
// finite-element algorithm, clears the switches and unticks the model items.
void ClearModelSelection();
