Begin Form about
  Caption = "About Pellmoor"
End
