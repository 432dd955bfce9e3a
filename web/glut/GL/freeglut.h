/* The font sources include freeglut's full header; the standard part is all
 * they use. */
#include <GL/freeglut_std.h>
