/* Loads a catalogue through the installed C interface, on the headless
 * site, and checks the control loaded it. It includes the header by its
 * bare name, as hosts written against 1.0 do, which the package still
 * allows beside <kevra/abi/kevra_tasklist.h>. */
#include <stdio.h>
#include <string.h>

#include "kevra_tasklist.h"

int main(int argc, char** argv) {
    kevra_control* control = NULL;
    char* json = NULL;
    int loaded;
    if (argc != 2) return 2;
    if (kevra_control_create_headless(NULL, NULL, NULL, &control) != KEVRA_S_OK ||
        kevra_control_put_MachineName(control, argv[1]) != KEVRA_S_OK ||
        kevra_control_LoadData(control) != KEVRA_S_OK ||
        kevra_control_dump_json(control, &json) != KEVRA_S_OK) {
        fprintf(stderr, "c_user: %s\n", kevra_last_error());
        return 1;
    }
    loaded = strstr(json, "\"mblnDataLoaded\":-1") != NULL;
    printf("%s\n", loaded ? "loaded" : json);
    kevra_free(json);
    kevra_control_release(control);
    return loaded ? 0 : 1;
}
