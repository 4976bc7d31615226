/* Compiled as strict C89 with every warning an error: the public header must
 * stay usable from the oldest C a host may be written in. */
#include "kevra_tasklist.h"

int kevra_c89_check(void);

int kevra_c89_check(void) {
    kevra_variant value;
    kevra_site_callbacks site;
    value.type = KEVRA_VT_I4;
    value.int_value = 1;
    value.string_value = 0;
    site.struct_size = sizeof site;
    return KEVRA_SUCCEEDED(KEVRA_S_OK) && value.type == KEVRA_VT_I4 && site.struct_size > 0;
}
