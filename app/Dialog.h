// The dialog part of the framework stand-in: a dialog made from a template of the own
// image and run modally.
#pragma once

#include <cstdint>

class CDialog {
  public:
    explicit CDialog(uint32_t templateId) : m_nIDTemplate(templateId) {}
    virtual ~CDialog() = default;

    // Shows the dialog modally; returns the id of the control that ended it.
    virtual int DoModal();

    uint32_t m_nIDTemplate;
};
