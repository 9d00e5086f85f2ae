Begin Form main
  Caption = "Pellmoor"
End
