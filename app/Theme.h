// Lets the desktop's controls fit the compact places the windows give them.
#pragma once

// Call once after the toolkit has started.
void ApplyCompactTheme();
