#include "app/Dialog.h"

#include "platform/Platform.h"

int CDialog::DoModal() {
    return fw::os().dialogBox(m_nIDTemplate);
}
