#include "ui/AppIcon.h"

#include "res/volnex.xpm"

wxIcon AppIcon() {
    return wxIcon(volnex_xpm);
}
