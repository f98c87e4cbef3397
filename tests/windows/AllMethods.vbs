' Calls every method of Quantora.Kestrix the way a script host does and
' prints each outcome on one line,
'   METHOD Name=Value ... => VALUE
'   METHOD Name=Value ... => error 0xHHHHHHHH context=N helpfile=FILE source=SOURCE : DESCRIPTION
' so that the test can put the same request to the Linux build and compare.
' The script also checks what it knows by itself (reference values, parity,
' the error information of failures) and ends with WScript.Quit 0 when every
' check held, 1 otherwise: cscript itself exits 0 whatever the script met.
Option Explicit

Dim k, failures, decimalSeparator
failures = 0
' CStr writes numbers in the user's locale; the printed lines use a point.
decimalSeparator = Mid(CStr(0.5), 2, 1)

Sub Fail(what)
    failures = failures + 1
    WScript.Echo "FAIL " & what
End Sub

Sub Expect(condition, what)
    If Not condition Then Fail what
End Sub

Function NumberText(value)
    NumberText = Replace(CStr(value), decimalSeparator, ".")
End Function

Function Hex8(number)
    Hex8 = "0x" & Right("0000000" & Hex(number), 8)
End Function

' The interface as this script sees it: each method's parameters in order.
Function ParameterNames(method)
    Const Head = "ExerciseType OptionType OptionFunction"
    Const Market = "AssetPrice StrikePrice TimeExpire Volatility InterestRate YieldRate"
    Const Tail = "MarketPrice TimeFormat DividendAmount TimeExDividend DividendFrequency DividendStyle InterestRateType YieldRateType"
    Select Case method
        Case "GenBS": ParameterNames = Head & " " & Market & " " & Tail
        Case "FrenchBS": ParameterNames = Head & " AssetPrice StrikePrice TimeTrading TimeExpire Volatility InterestRate YieldRate " & Tail
        Case "Binomial": ParameterNames = Head & " Iterations " & Market & " " & Tail
        Case "Whaley", "BSAmerican": ParameterNames = "OptionType OptionFunction " & Market & " " & Tail
        Case "JumpDiffusion": ParameterNames = "OptionType OptionFunction AssetPrice StrikePrice TimeExpire Volatility JumpsPerYear PercentTotalVol InterestRate YieldRate " & Tail
        Case "AmericanCall": ParameterNames = "OptionFunction AssetPrice StrikePrice TimeExpire Volatility InterestRate MarketPrice TimeFormat DividendAmount TimeExDividend DividendFrequency InterestRateType"
        Case "Eurodollar": ParameterNames = "Model " & Head & " AssetPrice StrikePrice TimeExpire Volatility InterestRate Iterations MarketPrice TimeFormat InterestRateType"
    End Select
End Function

' Every parameter's value from "Name=Value ...": a parameter not named is 0,
' as the object takes an omitted optional one.
Function Arguments(method, pairs)
    Dim names, values, pair, i, found
    names = Split(ParameterNames(method), " ")
    ReDim values(UBound(names))
    For i = 0 To UBound(names)
        values(i) = 0
    Next
    For Each pair In Split(pairs, " ")
        found = False
        For i = 0 To UBound(names)
            If names(i) = Left(pair, InStr(pair, "=") - 1) Then
                values(i) = CDbl(Replace(Mid(pair, InStr(pair, "=") + 1), ".", decimalSeparator))
                found = True
            End If
        Next
        Expect found, method & " has no parameter " & pair
    Next
    Arguments = values
End Function

Function CallMethod(method, a)
    Select Case method
        Case "GenBS": CallMethod = k.GenBS(a(0), a(1), a(2), a(3), a(4), a(5), a(6), a(7), a(8), a(9), a(10), a(11), a(12), a(13), a(14), a(15), a(16))
        Case "FrenchBS": CallMethod = k.FrenchBS(a(0), a(1), a(2), a(3), a(4), a(5), a(6), a(7), a(8), a(9), a(10), a(11), a(12), a(13), a(14), a(15), a(16), a(17))
        Case "Binomial": CallMethod = k.Binomial(a(0), a(1), a(2), a(3), a(4), a(5), a(6), a(7), a(8), a(9), a(10), a(11), a(12), a(13), a(14), a(15), a(16), a(17))
        Case "Whaley": CallMethod = k.Whaley(a(0), a(1), a(2), a(3), a(4), a(5), a(6), a(7), a(8), a(9), a(10), a(11), a(12), a(13), a(14), a(15))
        Case "BSAmerican": CallMethod = k.BSAmerican(a(0), a(1), a(2), a(3), a(4), a(5), a(6), a(7), a(8), a(9), a(10), a(11), a(12), a(13), a(14), a(15))
        Case "JumpDiffusion": CallMethod = k.JumpDiffusion(a(0), a(1), a(2), a(3), a(4), a(5), a(6), a(7), a(8), a(9), a(10), a(11), a(12), a(13), a(14), a(15), a(16), a(17))
        Case "AmericanCall": CallMethod = k.AmericanCall(a(0), a(1), a(2), a(3), a(4), a(5), a(6), a(7), a(8), a(9), a(10), a(11))
        Case "Eurodollar": CallMethod = k.Eurodollar(a(0), a(1), a(2), a(3), a(4), a(5), a(6), a(7), a(8), a(9), a(10), a(11), a(12))
    End Select
End Function

' Calls METHOD with the parameters named in "Name=Value ...", prints the
' outcome and returns the value (Empty when the call failed).
Function Price(method, pairs)
    Dim values, outcome
    values = Arguments(method, pairs)
    On Error Resume Next
    Err.Clear
    outcome = CallMethod(method, values)
    If Err.Number = 0 Then
        WScript.Echo method & " " & pairs & " => " & NumberText(outcome)
        Price = outcome
    Else
        WScript.Echo method & " " & pairs & " => error " & Hex8(Err.Number) & " context=" & Err.HelpContext & _
            " helpfile=" & Err.HelpFile & " source=" & Err.Source & " : " & Err.Description
        Price = Empty
    End If
    On Error GoTo 0
End Function

Set k = CreateObject("Quantora.Kestrix")

Const Euro = "ExerciseType=1"
Const Rates = "InterestRate=0.05 YieldRate=0"
Dim callValue, putValue, value

' Generalized Black-Scholes: a reference value (S = K = 100, T = 1 year,
' sigma 20 %, r 5 %: 10.4505835721856 from the exact normal distribution)
' and put-call parity C - P = S - K exp(-rT).
callValue = Price("GenBS", Euro & " OptionType=1 OptionFunction=1 AssetPrice=100 StrikePrice=100 TimeExpire=1 Volatility=0.2 " & Rates & " MarketPrice=0 TimeFormat=1")
putValue = Price("GenBS", Euro & " OptionType=2 OptionFunction=1 AssetPrice=100 StrikePrice=100 TimeExpire=1 Volatility=0.2 " & Rates & " MarketPrice=0 TimeFormat=1")
Expect Abs(callValue - 10.4505835721856) < 0.0001, "GenBS call value " & callValue
Expect Abs((callValue - putValue) - (100 - 100 * Exp(-0.05))) < 0.000000001, "put-call parity"
value = Price("GenBS", Euro & " OptionType=3 OptionFunction=1 AssetPrice=100 StrikePrice=100 TimeExpire=1 Volatility=0.2 " & Rates & " MarketPrice=0 TimeFormat=1")
Expect Abs(value - (callValue + putValue)) < 0.000000001, "a straddle is a call plus a put"
value = Price("GenBS", Euro & " OptionType=1 OptionFunction=5 AssetPrice=100 StrikePrice=100 TimeExpire=1 Volatility=0.2 " & Rates & " MarketPrice=" & NumberText(callValue) & " TimeFormat=1")
Expect Abs(value - 0.2) < 0.0001, "implied volatility of the call's own value " & value
Price "GenBS", Euro & " OptionType=2 OptionFunction=2 AssetPrice=100 StrikePrice=95 TimeExpire=0.5 Volatility=0.25 InterestRate=0.05 YieldRate=0.02 MarketPrice=0 TimeFormat=1"
Price "GenBS", "ExerciseType=0 OptionType=2 OptionFunction=1 AssetPrice=100 StrikePrice=110 TimeExpire=182 Volatility=0.3 InterestRate=0.06 YieldRate=0 MarketPrice=0 TimeFormat=0 DividendAmount=2 TimeExDividend=45 DividendFrequency=0 DividendStyle=0 InterestRateType=7 YieldRateType=7"
' Optional parameters left out are 0: TimeFormat 0 reads TimeExpire in days.
value = Price("GenBS", Euro & " OptionType=1 OptionFunction=1 AssetPrice=100 StrikePrice=100 TimeExpire=365 Volatility=0.2 " & Rates)
Expect Abs(value - callValue) < 0.000000001, "365 days is one year"
Price "FrenchBS", Euro & " OptionType=1 OptionFunction=4 AssetPrice=100 StrikePrice=100 TimeTrading=180 TimeExpire=250 Volatility=0.2 InterestRate=0.05 YieldRate=0.01"
Price "Binomial", "ExerciseType=0 OptionType=2 OptionFunction=1 Iterations=100 AssetPrice=100 StrikePrice=110 TimeExpire=1 Volatility=0.25 " & Rates & " MarketPrice=0 TimeFormat=1"
Price "Binomial", "ExerciseType=0 OptionType=2 OptionFunction=3 Iterations=200 AssetPrice=100 StrikePrice=100 TimeExpire=1 Volatility=0.25 InterestRate=0.05 YieldRate=0.02 MarketPrice=0 TimeFormat=1 DividendAmount=0 TimeExDividend=0 DividendFrequency=0 DividendStyle=3"
Price "Whaley", "OptionType=2 OptionFunction=1 AssetPrice=90 StrikePrice=100 TimeExpire=0.5 Volatility=0.3 InterestRate=0.08 YieldRate=0.04 MarketPrice=0 TimeFormat=1"
Price "BSAmerican", "OptionType=1 OptionFunction=6 AssetPrice=110 StrikePrice=100 TimeExpire=0.75 Volatility=0.2 InterestRate=0.05 YieldRate=0.06 MarketPrice=0 TimeFormat=1"
Price "JumpDiffusion", "OptionType=1 OptionFunction=1 AssetPrice=100 StrikePrice=100 TimeExpire=0.5 Volatility=0.25 JumpsPerYear=5 PercentTotalVol=0.4 " & Rates & " MarketPrice=0 TimeFormat=1"
Price "AmericanCall", "OptionFunction=1 AssetPrice=80 StrikePrice=75 TimeExpire=0.5 Volatility=0.3 InterestRate=0.06 MarketPrice=0 TimeFormat=1 DividendAmount=2 TimeExDividend=0.25"
Price "Eurodollar", "Model=1 ExerciseType=1 OptionType=2 OptionFunction=1 AssetPrice=94.5 StrikePrice=95 TimeExpire=0.25 Volatility=0.15 InterestRate=0.05 Iterations=50 MarketPrice=0 TimeFormat=1"
Price "Eurodollar", "Model=2 ExerciseType=0 OptionType=1 OptionFunction=7 AssetPrice=94.5 StrikePrice=95 TimeExpire=90 Volatility=0.15 InterestRate=0.05 Iterations=25"
' A power-function error inside the model is not an error: 0.
value = Price("Whaley", "OptionType=2 OptionFunction=1 AssetPrice=1000000 StrikePrice=100 TimeExpire=1 Volatility=0.05 InterestRate=0.1 YieldRate=0 MarketPrice=0 TimeFormat=1")
Expect value = 0, "a maths-library error answers 0"

' Failures: the code, its text, the help file and the method's help context,
' and the registered programmatic identifier as the source.
Sub CheckFailure(method, pairs, code, description, helpContext)
    Dim values, ignored
    values = Arguments(method, pairs)
    On Error Resume Next
    Err.Clear
    ignored = CallMethod(method, values)
    Expect Err.Number = code, method & ": Err.Number " & Hex8(Err.Number) & ", expected " & Hex8(code)
    Expect Err.Description = description, method & ": Err.Description " & Err.Description
    Expect Err.Source = "Quantora.Kestrix", method & ": Err.Source " & Err.Source
    Expect Err.HelpFile = "Kestrix.hlp", method & ": Err.HelpFile " & Err.HelpFile
    Expect Err.HelpContext = helpContext, method & ": Err.HelpContext " & Err.HelpContext
    On Error GoTo 0
    Price method, pairs  ' the printed line, for the comparison with Linux
End Sub

CheckFailure "GenBS", Euro & " OptionType=1 OptionFunction=1 AssetPrice=100 StrikePrice=0 TimeExpire=1 Volatility=0.2 " & Rates, _
    &H80050002, "StrikePrice must be greater than 0.", 2
CheckFailure "AmericanCall", "OptionFunction=1 AssetPrice=100 StrikePrice=0 TimeExpire=1 Volatility=0.2 InterestRate=0.05", _
    &H80050002, "StrikePrice must be greater than 0.", 35
CheckFailure "GenBS", Euro & " OptionType=4 OptionFunction=1 AssetPrice=100 StrikePrice=100 TimeExpire=1 Volatility=0.2 " & Rates, _
    &H80050023, "The OptionType is invalid.", 2
CheckFailure "Binomial", "ExerciseType=0 OptionType=1 OptionFunction=1 Iterations=3 AssetPrice=100 StrikePrice=100 TimeExpire=1 Volatility=0.2 " & Rates, _
    &H8004FFFF, "The number of iterations for the Binomial Model must be greater than or equal to 5.", 7
CheckFailure "Eurodollar", "Model=0 ExerciseType=1 OptionType=1 OptionFunction=1 AssetPrice=101 StrikePrice=95 TimeExpire=1 Volatility=0.2 InterestRate=0.05 Iterations=50", _
    &H8005000B, "AssetPrice must be less than or equal to 100.", 6
CheckFailure "JumpDiffusion", "OptionType=1 OptionFunction=1 AssetPrice=100 StrikePrice=100 TimeExpire=1 Volatility=0.2 JumpsPerYear=0 PercentTotalVol=0.4 " & Rates, _
    &H8005000D, "The Number of Jumps Per Year must be greater than 0.", 8

' A call after a failure prices normally.
value = Price("GenBS", Euro & " OptionType=1 OptionFunction=1 AssetPrice=100 StrikePrice=100 TimeExpire=1 Volatility=0.2 " & Rates & " MarketPrice=0 TimeFormat=1")
Expect value = callValue, "the call after the failures"

' An argument left empty in the middle is omitted too; text that is no number
' is refused, not priced.
value = k.GenBS(1, 1, 1, 100, 100, 1, 0.2, 0.05, 0, , 1)
Expect value = callValue, "an empty MarketPrice in the middle is 0"
On Error Resume Next
Err.Clear
value = k.GenBS(1, 1, 1, "a hundred", 100, 1, 0.2, 0.05, 0, 0, 1)
Expect Err.Number <> 0, "text that is no number is refused"
On Error GoTo 0

Set k = Nothing
If failures = 0 Then
    WScript.Echo "all checks held"
    WScript.Quit 0
End If
WScript.Echo failures & " checks failed"
WScript.Quit 1
