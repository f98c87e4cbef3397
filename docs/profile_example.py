# The README's Python example; run from the repository root it redraws docs/profile.png:
#   PYTHONPATH=build/default/python /usr/bin/python3 docs/profile_example.py
import numpy as np, kestrix, kestrix.plot
put = dict(OptionType="PutOption", StrikePrice=100, TimeExpire=0.5, Volatility=0.3, InterestRate=0.08, YieldRate=0, TimeFormat="Years")
print(kestrix.Whaley(OptionFunction="Theoretical", AssetPrice=[90, 100, 110], **put))
fig = kestrix.plot.profile(["GenBS", "Binomial", "Whaley", "BSAmerican"], "AssetPrice", np.linspace(60, 140, 161), ["Delta", "Gamma"], ExerciseType="American", Iterations=200, **put)
fig.savefig("docs/profile.png", dpi=72)
