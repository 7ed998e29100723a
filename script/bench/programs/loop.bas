DEF FNsq(v) = v * v + 1
total = 0
FOR outer = 1 TO PASSES
  s$ = ""
  FOR i = 1 TO 100
    total = total + FNsq(i) MOD 7
    IF i MOD 10 = 0 THEN s$ = s$ + "x"
  NEXT i
NEXT outer
PRINT total, LEN(s$)
SYSTEM
