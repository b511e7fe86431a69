#pragma once

// Makes the serial engine's line settings fail on demand. The test program
// replaces ioctl(): every call goes to the C library, except that the n-th
// "set line settings" request (TCSETS and its termios2 variants) counted since
// refuserReglage(n) fails with EIO, as a driver refusing a setting would.
namespace ReglagesRefuses {

// Refuses the n-th settings request from now on (1 = the next one); 0 refuses none.
void refuserReglage(int n);
// Settings requests seen since the last refuserReglage().
int reglagesVus();

} // namespace ReglagesRefuses
