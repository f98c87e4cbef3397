' Prices a European call with Kestrix.dll (registered with regsvr32).
Dim k, value
Set k = CreateObject("Quantora.Kestrix")

' GenBS(ExerciseType, OptionType, OptionFunction, AssetPrice, StrikePrice,
'       TimeExpire, Volatility, InterestRate, YieldRate, MarketPrice, TimeFormat)
' European (1) call (1), theoretical value (1), time in years (TimeFormat 1).
value = k.GenBS(1, 1, 1, 100, 100, 1, 0.2, 0.05, 0, 0, 1)
WScript.Echo "Call value: " & value

' A rejected input raises an error carrying the code, its text and the help
' reference.
On Error Resume Next
value = k.GenBS(1, 1, 1, 100, 0, 1, 0.2, 0.05, 0, 0, 1)
If Err.Number <> 0 Then
    WScript.Echo "Error 0x" & Hex(Err.Number) & ": " & Err.Description & _
        " (" & Err.HelpFile & ", context " & Err.HelpContext & ")"
End If
